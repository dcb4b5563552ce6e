#pragma once
// Cb::Shape: one kind of geometry of a body ("Particle", "Point", "Edge",
// "Triangle", "Tet", "Field") with all its per-element data, held as an
// ordered list of named channels behind copy-on-write handles. One master
// channel ("position" or "index") sets the element count; every other
// channel follows it.

#include <cstdint>
#include <string>
#include <vector>

#include "cb/CbRefPtr.h"
#include "cb/model/Channel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/qel/FrameTime.h"
#include "zt/vec.h"

namespace zt {
class tile_layout3;
}
namespace ztd {
struct body;
}

namespace Cb {

class Body;
class ZtpReader;
class ZtpWriter;

using ChannelHandle = CbRefPtr<Channel>;

// Bits of Shape::modifiedFlags(): set whenever a channel of that name is
// handed out for modification; the body clears them after each hook pass.
enum ShapeModified : uint32_t {
    kPositionModified = 1,
    kDistanceModified = 2,
    kVelocityModified = 4,
};

// The text before the first '.' of a qualified channel name ("" without one),
// and the text after it (the whole name without one).
std::string shapePart(const std::string& qualifiedName);
std::string channelPart(const std::string& qualifiedName);

class Shape {
public:
    explicit Shape(std::string kind);
    // Shares the channel handles; the write list of the copy is empty and its
    // sync deferral 0.
    Shape(const Shape& other);
    Shape& operator=(const Shape&) = delete;

    virtual ~Shape();
    // A copy sharing every channel.
    virtual Shape* clone() const = 0;
    virtual float memoryMB() const;
    virtual int64_t size() const = 0;
    virtual bool empty() const = 0;
    virtual void adoptMaster(const Shape& other) = 0;
    // Every channel (detached) follows the layout; modified flags restored.
    virtual void updateLayout(const zt::tile_layout3& layout);
    virtual void compactBlocks();
    // Brings every channel to the master's element layout.
    virtual void syncChannels();
    virtual void pushZtdBody(ztd::body& body);
    virtual void stepHook();
    // The channels' hooks of the same names, in hook order (descending
    // hookPriority, list order among equals); modified flags restored.
    virtual void updateFromBody(const FrameTime& time, const Body& body);
    virtual void updateStep(const FrameTime& time, const Body& body);
    virtual void rebuildStep(const FrameTime& time, const Body& body);
    // "-shape: N MB" line to the library log file, then every channel's.
    virtual void printMemory() const;
    // A channel count, then that many channel records, each refused when its
    // name exists.
    virtual void read(ZtpReader& reader);
    // The shape name, then the selected channels ("*" selects all).
    virtual void write(ZtpWriter& writer, const std::string& selection, bool compress);
    virtual Channel* createChannel1f(const std::string& name, float defaultValue) = 0;
    virtual Channel* createChannel1i(const std::string& name, int defaultValue) = 0;
    virtual Channel* createChannel1i64(const std::string& name, int64_t defaultValue) = 0;
    // Shapes without 2i/4i channels throw "2i channels not supported in a
    // <kind>-Shape" (and the 4i counterpart).
    virtual Channel* createChannel2i(const std::string& name, const zt::vec2i& defaultValue);
    virtual Channel* createChannel3f(const std::string& name, const zt::vec3f& defaultValue) = 0;
    virtual Channel* createChannel3i(const std::string& name, const zt::vec3i& defaultValue) = 0;
    virtual Channel* createChannel4i(const std::string& name, const zt::vec4i& defaultValue);
    // The master channel, or null when the shape has none.
    virtual Channel* masterChannel() const = 0;
    // Where element positions come from: "" (own channels) or a qualified
    // name ("Point.position").
    virtual std::string positionSource() const;
    // m is a 4x4 matrix in row-vector form (translation in m[12..14]).
    virtual void applyTransform(const float m[16]);

    // Kind name: "Particle", "Point", ...
    const std::string& name() const { return name_; }
    int channelCount() const { return int(channels_.size()); }
    // Read access: no check, no detach.
    ChannelHandle& channel(int i) { return channels_[size_t(i)]; }
    const ChannelHandle& channel(int i) const { return channels_[size_t(i)]; }
    // Sets the modified flag of the channel's name, then returns the handle
    // (callers detach before writing).
    ChannelHandle& mutableChannel(int i);
    // Qualified or plain names. A shape part naming another shape throws
    // "Channel '<name> cannot be found in shape '<kind>'"; a missing channel
    // "Channel '<channel>' not found in <kind>-shape".
    ChannelHandle& channel(const std::string& name);
    const ChannelHandle& channel(const std::string& name) const;
    ChannelHandle& mutableChannel(const std::string& name);
    // Index of the channel named by the channel part, -1 if none.
    int indexOf(const std::string& name) const;
    // Names separated by blanks or tabs; all must exist and (unless typeCode
    // is kTypeAny) have that type code. An empty list gives false.
    bool hasChannels(const std::string& names, int typeCode) const;
    // Throws "Cannot create channel '...' in <kind>-Shape: channel already
    // exists (of type ...)" when the name exists.
    void requireNew(const std::string& name) const;
    // Shares `handle` in place of the channel of the same name; throws
    // "Cannot replace channel '...': channel does not exist.".
    void replaceChannel(const ChannelHandle& handle);
    // Appends (shared) every channel of `other` whose name this shape lacks.
    void addMissingChannels(const Shape& other);
    // Appends a handle (refusing an existing name) and syncs unless deferred.
    Channel* appendChannel(ChannelHandle handle);
    // Removes the channel of that name, if any.
    void removeChannel(const std::string& name);

    // Typed lookups: the channel tested against T's type name; a mismatch
    // throws "Channel '...' in <kind>-shape requested: wrong channel type".
    template <class T>
    const T* channelAs(const std::string& name) const;
    template <class T>
    T* mutableChannelAs(const std::string& name);
    template <class T>
    const T* channelAs(int i) const;

    uint32_t modifiedFlags() const { return modified_; }
    void setModifiedFlags(uint32_t flags) { modified_ = flags; }
    void markModified(const std::string& channelName);
    uint64_t syncDeferral() const { return syncDeferral_; }
    void setSyncDeferral(uint64_t d) { syncDeferral_ = d; }
    // The channels chosen by the last write.
    const std::vector<Channel*>& writeList() const { return writeList_; }

protected:
    // The wrong-type error for a channel name.
    [[noreturn]] void wrongType(const std::string& name) const;
    // Hook order: every channel detached, sorted by descending priority.
    std::vector<Channel*> hookOrder();
    // The index of a qualified or plain name, with the lookup failures of
    // channel(name).
    int findChannel(const std::string& name) const;
    // Throws when a handle to be added holds no channel.
    void requireObject(const ChannelHandle& handle) const;

    std::vector<Channel*> writeList_;
    uint64_t syncDeferral_ = 0;
    std::vector<ChannelHandle> channels_;
    std::string name_;
    uint32_t modified_ = 0;
};

// The shape registry: kind name -> create function taking "create the master
// channel". Set by library start-up; lasts until process exit.
using ShapeAllocFn = Shape* (*)(bool withMaster);
// Every outermost start-up sets the entries again, so a second registration
// of a kind replaces the first without a warning.
void registerShapeType(const std::string& kind, ShapeAllocFn create);
// Throws "Unknown shape: '<kind>'".
Shape* createShape(const std::string& kind, bool withMaster);

template <class S>
Shape* newShapeOf(bool withMaster) {
    return new S(withMaster);
}

template <class T>
const T* Shape::channelAs(const std::string& name) const {
    const ChannelHandle& handle = channel(name);
    if (!isChannelType(handle.get(), T::staticTypeName())) wrongType(name);
    return static_cast<const T*>(handle.get());
}

// The type is tested before the handle is detached or flagged.
template <class T>
T* Shape::mutableChannelAs(const std::string& name) {
    if (!isChannelType(channel(name).get(), T::staticTypeName())) wrongType(name);
    return static_cast<T*>(mutableChannel(name).mutableGet());
}

template <class T>
const T* Shape::channelAs(int i) const {
    const ChannelHandle& handle = channel(i);
    if (!isChannelType(handle.get(), T::staticTypeName())) wrongType(handle->name());
    return static_cast<const T*>(handle.get());
}

}  // namespace Cb
