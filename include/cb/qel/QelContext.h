#pragma once
// Cb::QelContext: what an expression is evaluated against. The body, the
// shape named by the context, its position and auxiliary channels, the
// layout, the time, and per-thread slots naming the element under evaluation.

#include <cstdint>
#include <string>
#include <vector>

#include "cb/qel/FrameTime.h"
#include "zt/vec.h"

namespace zt {
class tile_layout3;
}
namespace Cbp {
class QelNode;
class QelRef;
}  // namespace Cbp

namespace Cb {

class Body;
class Shape;
class Channel;

class QelContext {
public:
    // With a body: resolves the shape and pushes itself on the body's context
    // stack, rebinding every value of the body to it. Without a body (the
    // global context) it only stores the name and time.
    QelContext(Body* body, const std::string& shapeName, const FrameTime& time);
    // Pops the body's context stack when registered with a body.
    virtual ~QelContext();
    QelContext(const QelContext&) = delete;
    QelContext& operator=(const QelContext&) = delete;

    virtual void setTime(const FrameTime& time, bool push);
    virtual void release(bool pop);
    // Hooks for derived contexts; this class resolves nothing.
    virtual Cbp::QelNode* resolveReference(const std::string& name, int component, Cbp::QelRef* ref);
    virtual int fieldOpIndex(const std::string& name);
    virtual float sampleFieldOp(int index, const zt::vec3f& position, int component, const FrameTime& time,
                                int thread);

    // Sizes the per-thread slots and looks up shape, channels and layout.
    void resolve();

    // The position of the element under evaluation on a thread slot.
    zt::vec3f position(int thread) const;
    // The layout's cell size; without a layout logs
    // "Voxel-size evaluation of unbound QEL expression" and gives 1.
    float voxelSize() const;
    // A channel of the context's own shape (null without a shape).
    Channel* channel(const std::string& name) const;
    // A channel of a named shape of the body (null without a body).
    Channel* channel(const std::string& shapeName, const std::string& channelName) const;
    std::string bodyName() const;

    // "fluidDistance" -> "fluid-distance" and the other legacy channel names.
    static std::string mapChannelName(const std::string& name);

    const std::string& name() const { return name_; }
    Body* body() const { return body_; }
    const zt::tile_layout3* layout() const { return layout_; }
    Shape* shape() const { return shape_; }
    Channel* positionChannel() const { return positionChannel_; }
    Channel* auxChannel() const { return auxChannel_; }
    const FrameTime& time() const { return time_; }

    // Per-thread slots (twice the OpenMP team size).
    int threadSlots() const { return int(currentElement_.size()); }
    // currentElement with the slot checked: throws
    // "QEL context error: thread slot " + k + " out of range" past the slots.
    uint64_t elementOf(int thread) const;
    void setCurrentElement(int thread, uint64_t index) { currentElement_[size_t(thread)] = index; }
    uint64_t currentElement(int thread) const { return currentElement_[size_t(thread)]; }
    void setElementArg(int thread, int32_t arg) { elementArg_[size_t(thread)] = arg; }
    void setExplicitPosition(int thread, const zt::vec3f& p) { explicitPosition_[size_t(thread)] = p; }
    void setPositionOverride(bool on) { positionOverride_[0] = on ? 1 : 0; }

    // The global context that start-up creates and shutdown destroys; null
    // outside a started library.
    static QelContext* global();
    static void createGlobal();
    static void destroyGlobal();

    // The cell size where there is no layout to give one: logs and gives 1.
    static float unboundVoxelSize();

private:
    void checkSlot(int thread) const;
    // The paths that read the body model (QelContextBody.cpp).
    void attachBody();
    void detachBody();
    void rebindBody(bool push);
    void releaseBody(bool pop);
    void resolveFromBody();
    zt::vec3f derivedPosition(int thread) const;
    float layoutVoxelSize() const;
    Channel* shapeChannel(const std::string& name) const;
    Channel* bodyChannel(const std::string& shapeName, const std::string& channelName) const;
    std::string nameOfBody() const;

protected:
    std::string name_;
    Body* body_ = nullptr;
    const zt::tile_layout3* layout_ = nullptr;
    Shape* shape_ = nullptr;
    Channel* positionChannel_ = nullptr;
    Channel* auxChannel_ = nullptr;
    FrameTime time_;
    std::vector<uint64_t> currentElement_;
    std::vector<int32_t> elementArg_;
    std::vector<zt::vec3f> explicitPosition_;
    uint8_t positionOverride_[2] = {0, 0};
    uint8_t registered_ = 1;
};

}  // namespace Cb
