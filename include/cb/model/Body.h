#pragma once
// Cb::Body: one simulated object. Named typed values in sections (it is a
// ValueObject), a 4x4 transform, one tile layout shared by its particle and
// field data, and at most one shape per kind name. Copies share the layout
// and the shapes until one side writes (copy-on-write handles).

#include <cstdint>
#include <map>
#include <string>

#include "cb/CbRefPtr.h"
#include "cb/qel/FrameTime.h"
#include "cb/values/ValueObject.h"
#include "zt/vec.h"

namespace zt {
class tile_layout3;
}

namespace Cb {

class Shape;
class ParticleShape;
class PointShape;
class FieldShape;
class Channel;
class ZtpReader;
class ZtpWriter;

using ShapeHandle = CbRefPtr<Shape>;
using LayoutHandle = CbRefPtr<zt::tile_layout3>;

// Index 4 of the step parameters is the time step.
constexpr int kStepTimeStep = 4;

class Body : public ValueObject {
public:
    // Identity transform; a new layout with cell size 1 and tile size 9.
    explicit Body(const std::string& name);
    // Copies the values, transform, flags and texts; shares the layout and
    // every shape; solver state null, counter 1.
    Body(const Body& other);
    ~Body() override;

    virtual void hook0() {}
    // Throws "Attempting to clone evolving body '<name>'" for an evolving body.
    virtual Body* clone() const;
    // A copy whose "Motion Type" (when it has one) is "Unsolved"; clears the
    // first flag. Never refused.
    virtual Body* cloneUnsolved() const;
    // Values matched, the signature's shapes added (cloned) or completed with
    // their missing channels (shared); the signature name taken over. A null
    // signature throws "Cannot match NULL signature on Body '<name>'".
    virtual void matchSignature(const Body* signature);
    // Every shape and channel of the signature present with the same type
    // code; null gives true.
    virtual bool matchesSignature(const Body* signature) const;
    virtual bool hasPoints() const;
    virtual void followPoints(const Body& other, double dt, double t, bool move, bool setVelocity);
    // m: 4x4, row-vector form. The identity does nothing.
    virtual void applyTransform(const float m[16]);
    // The body record: name, signature name, extra text, transform, write
    // hook, sections, tile layout, then the selected shapes in name order.
    // A selected channel whose type no reader can create by name (a
    // "buffer::int64" channel) is left out with the warning "Skipping channel
    // '<kind>.<name>': type '<type>' cannot be read back from <file>". A
    // layout with empty slots is settled first (with the particle and field
    // blocks), so that slots may move.
    virtual void write(ZtpWriter& writer, const std::string& selection, bool compress);
    virtual void writeHook(ZtpWriter& writer);
    virtual void readHook(ZtpReader& reader);
    // The transform from three axis vectors (a matrix product of a rotation
    // to the axes and their lengths).
    virtual void setTransform(const zt::vec3f& a, const zt::vec3f& b, const zt::vec3f& c);
    virtual void step(const double* params);
    virtual void hook1() {}
    virtual void shapeHooks(const FrameTime& time);
    virtual void fieldOperation(const std::string& operation, const FrameTime& time);
    virtual void addOccluder(Body* occluder);
    virtual Object* occluder(int index);
    virtual void transport(const FrameTime& time);
    virtual void hook2() {}
    virtual std::string emptyText() const { return std::string(); }
    virtual void addAcceleration(const zt::vec3f& acceleration);
    virtual void addForce(const zt::vec3f& force);
    virtual void preTransportSolve(const FrameTime& time);
    virtual void postTransportSolve(const FrameTime& time);
    virtual void accelerate(const FrameTime& time);
    virtual void hook3() {}
    virtual Body* copy() const;

    // "Motion Type" is present and not "Unsolved".
    bool isEvolving() const;

    bool hasShape(const std::string& kind) const;
    // Missing: "Cannot find shape '<kind>' in Body <name>".
    const ShapeHandle& shape(const std::string& kind) const;
    // The same, detached for writing.
    Shape* mutableShape(const std::string& kind);
    // Typed access; a stored shape of another class throws "Cannot access
    // const shape '<kind>' in Body '<name>': bad shape type".
    const ParticleShape* particleShape() const;
    ParticleShape* mutableParticleShape();
    const PointShape* pointShape() const;
    PointShape* mutablePointShape();
    const FieldShape* fieldShape() const;
    FieldShape* mutableFieldShape();
    // Takes ownership; refuses an existing kind ("Cannot create shape
    // '<kind>' in Body <name>: shape already exists").
    Shape* addShape(Shape* shape);
    // Replaces (or adds) the shape stored under its kind name.
    void setShape(Shape* shape);
    void eraseShape(const std::string& kind);
    int shapeCount() const { return int(shapes_.size()); }
    const std::map<std::string, ShapeHandle>& shapes() const { return shapes_; }
    // Qualified names separated by blanks: every shape and channel present.
    bool hasChannels(const std::string& list) const;
    // The shape part selects the shape (missing: the shape error), the
    // channel part the channel (null when missing).
    Channel* channel(const std::string& qualifiedName) const;

    void updateTileLayout(bool flag);

    // A value of this body evaluated at `time` through an expression context
    // over the body: as a number (`fallback` when the body has no such value),
    // or as text ("" without one).
    double valueNumber(const std::string& name, const FrameTime& time, double fallback) const;
    std::string valueText(const std::string& name, const FrameTime& time) const;

    const float* transform() const { return transform_; }
    void setTransformMatrix(const float m[16]);
    const zt::tile_layout3& layout() const { return *layout_; }
    zt::tile_layout3& mutableLayout();
    const LayoutHandle& layoutHandle() const { return layout_; }
    void setLayout(zt::tile_layout3* layout);

    const std::string& signatureName() const { return signatureName_; }
    void setSignatureName(const std::string& name) { signatureName_ = name; }
    const std::string& extraText() const { return extraText_; }
    void setExtraText(const std::string& text) { extraText_ = text; }
    // The file the body was last written to.
    const std::string& savedFile() const { return savedFile_; }
    bool firstFlag() const { return firstFlag_ != 0; }
    bool secondFlag() const { return secondFlag_ != 0; }
    int64_t userValue() const { return userValue_; }
    void setUserValue(int64_t v) { userValue_ = v; }

protected:
    void* solverState_ = nullptr;

private:
    [[noreturn]] void badShapeType(const std::string& kind) const;
    // Notes empty slots, settles the layout, and lets the shapes follow it
    // again when slots were compacted away.
    void settleLayout();
    // When the layout has empty slots: brings the particle and field shapes
    // in step with it, compacts their blocks and settles it.
    void settleForWriting();
    void setMotionTypeUnsolved();

    float transform_[16];
    LayoutHandle layout_;
    std::map<std::string, ShapeHandle> shapes_;
    int64_t userValue_ = 0;
    uint8_t firstFlag_ = 0;
    uint8_t secondFlag_ = 1;
    std::string signatureName_ = "Body";
    std::string savedFile_;
    std::string extraText_;
    int32_t counter_ = 1;
};

}  // namespace Cb
