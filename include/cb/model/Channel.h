#pragma once
// Cb::Channel: one named, typed array of per-element values of a shape (one
// value per particle, point, edge or voxel). Three branches share this
// interface: particle channels (values in blocks per tile), buffer channels
// (one contiguous array) and field channels (one value per voxel).

#include <cstdint>
#include <string>

#include "cb/qel/FrameTime.h"
#include "zt/vec.h"

namespace zt {
class tile_layout3;
}

namespace Cb {

class Body;
class Object;
class ZtpReader;
class ZtpWriter;

// Element type codes, shared with the value type codes.
enum TypeCode : int {
    kTypeInt = 0,
    kTypeFloat = 1,
    kTypeVec2i = 2,
    kTypeVec2f = 3,
    kTypeVec3f = 4,
    kTypeVec3i = 5,
    kTypeVec4i = 6,
    kTypeVec4f = 7,
    kTypeEnum = 8,
    kTypeToggle = 9,
    kTypeString = 10,
    kTypeInt64 = 11,
    kTypeInt8 = 12,
    kTypeAny = 13,  // matches every type in channel queries
};

// Typed lookups (Shape::channelAs<T>) test a channel against the registry
// name of T. Every concrete channel class, and each abstract branch base,
// therefore answers its registry type name statically:
//
//     static const char* staticTypeName();   // "buffer::vec3i", "particle::base"
//
// A concrete class's typeName() returns the same text. The branch bases answer
// "particle::base", "buffer::base" and "field::base".
class Channel {
public:
    Channel() = default;
    // Copies the stored count, statistics and record span; the suppression
    // flag becomes 0 and the name goes through setName.
    Channel(const Channel& other);
    Channel& operator=(const Channel&) = delete;

    virtual ~Channel();
    virtual uint64_t size() const = 0;
    virtual float memoryMB() const = 0;
    virtual bool empty() const = 0;
    virtual std::string typeName() const = 0;
    virtual int typeCode() const = 0;
    // Deep copy.
    virtual Channel* clone() const = 0;
    virtual zt::vec3f defaultValue3f() const = 0;
    virtual zt::vec3f min3f() const = 0;
    virtual zt::vec3f max3f() const = 0;
    virtual zt::vec3f mean3f() const = 0;
    virtual void removeOccluder(const Object* occluder);
    // The position of an element; channels without positions throw.
    virtual zt::vec3f position3f(int64_t index, const Channel* pointPositions) const = 0;
    // Component c of the value at the index, as float.
    virtual float component(int64_t index, int c) const = 0;
    virtual float sample(const zt::vec3f& position, const zt::tile_layout3* layout, int c) const = 0;
    // One line to the library log file, when one is open.
    virtual void printMemory() const;
    virtual void updateLayout(const zt::tile_layout3& layout);
    virtual void compactBlocks();
    virtual void stepHookA(const FrameTime& time, const Body& body);
    virtual void stepHookB(const FrameTime& time, const Body& body);
    virtual void updateFromBody(const FrameTime& time, const Body& body);
    virtual void updateStep(const FrameTime& time, const Body& body);
    virtual void rebuildStep(const FrameTime& time, const Body& body);
    // The common header (type name, name, stored count, statistics), then the
    // class's own data.
    virtual void write(ZtpWriter& writer, bool compress);
    // The class's own data (the header has been read by readChannel).
    virtual void read(ZtpReader& reader) = 0;
    virtual int hookPriority() const;
    virtual void loadAllBlocks();
    virtual void clear() = 0;

    // Throws "Cannot set channel name '" + name + "': Spaces are  not allowed
    // in channel names" when the name holds a space.
    void setName(const std::string& name);
    std::string name() const { return name_; }

    uint32_t deferredLoadSuppressed() const { return suppressDeferredLoad_; }
    void setDeferredLoadSuppressed(uint32_t flag) { suppressDeferredLoad_ = flag; }
    uint64_t storedCount() const { return storedCount_; }
    const zt::vec3f& storedMin() const { return min_; }
    const zt::vec3f& storedMax() const { return max_; }
    const zt::vec3f& storedMean() const { return mean_; }
    // Set by readChannel from the file's header record.
    void setStoredStatistics(uint64_t count, const zt::vec3f& min, const zt::vec3f& max, const zt::vec3f& mean);
    // Where the channel's record lay in the file it was read from: its
    // start (the type name), where the class's own data begin (after the
    // common header), and its length; -1 for a channel not read from a file.
    int64_t recordOffset() const { return recordOffset_; }
    int64_t recordDataOffset() const { return recordDataOffset_; }
    int64_t recordBytes() const { return recordBytes_; }
    void setRecordSpan(int64_t offset, int64_t dataOffset, int64_t bytes) {
        recordOffset_ = offset;
        recordDataOffset_ = dataOffset;
        recordBytes_ = bytes;
    }

protected:
    // Refreshes the stored count and statistics and writes the header record.
    void writeHeader(ZtpWriter& writer);

private:
    std::string name_;
    uint32_t suppressDeferredLoad_ = 0;
    uint64_t storedCount_ = 0;
    zt::vec3f min_{};
    zt::vec3f max_{};
    zt::vec3f mean_{};
    int64_t recordOffset_ = -1;
    int64_t recordDataOffset_ = -1;
    int64_t recordBytes_ = -1;
};

}  // namespace Cb
