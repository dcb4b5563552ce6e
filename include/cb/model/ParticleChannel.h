#pragma once
// Particle channels: one value per particle, kept in the blocks of a
// zt::block3_array<T> (one block per tile), so that (block, element) names
// the same particle in every channel of a shape. A particle index is
// global block << 32 | element.
//
// ParticleChannel<T> exists for int8_t, int, float, vec3i, vec3f and int64_t;
// its type name is "particle::" + the element word. Two special classes:
// ParticleChannelId64 ("particle::id64", running 64-bit ids) and
// ParticleChannelDroplet ("particle::droplet", the droplet filter of
// reblocking).
//
// Deferred data: a channel read from a file leaves its blocks there. Every
// operation first sets the storage's loading-allowed flag from the channel's
// suppression flag and calls ensureLoaded; storage() does the same and hands
// out the storage for modification.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "cb/model/Channel.h"
#include "zt/block3_array.h"
#include "zt/vec.h"

namespace Cb {

class ParticleChannelBase : public Channel {
public:
    explicit ParticleChannelBase(std::unique_ptr<zt::block3_array_base> storage);
    // The storage is cloned block by block.
    ParticleChannelBase(const ParticleChannelBase& other);
    ~ParticleChannelBase() override;

    static const char* staticTypeName() { return "particle::base"; }

    // Sum of the block element counts (parallel over blocks).
    uint64_t size() const override;
    float memoryMB() const override;
    // True when no block holds an element.
    bool empty() const override;
    // From per-worker partials over the non-empty blocks; the default value
    // when no block holds an element.
    zt::vec3f min3f() const override;
    zt::vec3f max3f() const override;
    zt::vec3f mean3f() const override;
    // Throws "Particle-Channel sampling not yet implemented.".
    float sample(const zt::vec3f& position, const zt::tile_layout3* layout, int c) const override;
    void updateLayout(const zt::tile_layout3& layout) override;
    void compactBlocks() override;
    void loadAllBlocks() override;
    // Deletes every block, in memory or on disk.
    void clear() override;
    // Makes the blocks mirror the position storage of the shape.
    virtual void resizeLike(const zt::block3_array_base& master);

    // The storage for modification: loaded first (unless loading is
    // suppressed), then handed out.
    zt::block3_array_base& storage();
    // The storage for reading, loaded the same way.
    const zt::block3_array_base& storage() const;
    // The storage as it is, nothing loaded (for inspection).
    const zt::block3_array_base& rawStorage() const { return *storage_; }
    // The same for walking the blocks one at a time (block, releaseBlock).
    zt::block3_array_base& rawStorage() { return *storage_; }
    // Sets the loading-allowed flag from the suppression flag and completes
    // deferred loading.
    void makeResident() const;
    // The raw bytes of global block g's elements (loading the block if
    // needed); empty for a missing block.
    std::span<const uint8_t> blockBytes(int64_t g) const;

protected:
    // Called by storage() before the blocks are handed out for change.
    virtual void beforeChange() {}
    // The block and element of a particle index; throws when no particle has it.
    const zt::block3_base& locate(int64_t index, int64_t& element) const;

    std::unique_ptr<zt::block3_array_base> storage_;
};

template <class T>
class ParticleChannel : public ParticleChannelBase {
public:
    using value_type = T;

    ParticleChannel();
    explicit ParticleChannel(const T& defaultValue);
    ParticleChannel(const ParticleChannel& other);

    static const char* staticTypeName();

    std::string typeName() const override;
    int typeCode() const override;
    Channel* clone() const override;
    zt::vec3f defaultValue3f() const override;
    // vec3f channels: the value at the index; other types throw "Invalid
    // reference to Particle.position".
    zt::vec3f position3f(int64_t index, const Channel* pointPositions) const override;
    float component(int64_t index, int c) const override;
    // Header, default value, block array record.
    void write(ZtpWriter& writer, bool compress) override;
    // Default value, then the block array's tables; the data stay in the
    // reader's file until first needed.
    void read(ZtpReader& reader) override;

    const T& defaultValue() const { return default_; }
    // Also the default of the storage and of every block in memory.
    void setDefaultValue(const T& value);

    // The typed storage, loaded as storage() is.
    zt::block3_array<T>& blocks() { return static_cast<zt::block3_array<T>&>(storage()); }
    const zt::block3_array<T>& blocks() const { return static_cast<const zt::block3_array<T>&>(storage()); }
    // Global block g's elements as one contiguous run, for fast readers:
    // call makeResident() once, then this per block. Empty for a missing block.
    std::span<const T> blockElements(int64_t g) const { return typedStorage().elements(g); }
    // The value of one particle; throws when no particle has the index.
    T value(int64_t index) const;

private:
    zt::block3_array<T>& typedStorage() const { return static_cast<zt::block3_array<T>&>(*storage_); }

    T default_{};
};

// Running 64-bit particle ids: new particles get nextId, counting up.
class ParticleChannelId64 : public ParticleChannel<int64_t> {
public:
    ParticleChannelId64();
    explicit ParticleChannelId64(int64_t defaultValue);
    ParticleChannelId64(const ParticleChannelId64& other) = default;

    static const char* staticTypeName() { return "particle::id64"; }
    std::string typeName() const override { return staticTypeName(); }
    Channel* clone() const override;
    // As ParticleChannel<int64_t>, then the next id.
    void write(ZtpWriter& writer, bool compress) override;
    // Version 15 and later read the next id; older files continue at the
    // largest stored id (the first component of max3f(), truncated), taken
    // when the ids are first needed so the blocks can stay on disk until then.
    void read(ZtpReader& reader) override;
    // Mirrors the master, then gives every new element nextId, counting up,
    // in block order.
    void resizeLike(const zt::block3_array_base& master) override;

    int64_t nextId();
    void setNextId(int64_t id) {
        nextId_ = id;
        continueFromMax_ = false;
    }

protected:
    void beforeChange() override;

private:
    int64_t nextId_ = 0;
    bool continueFromMax_ = false;
};

// The per-particle float that reblocking compares with the droplet threshold
// when it builds the tile layout.
class ParticleChannelDroplet : public ParticleChannel<float> {
public:
    ParticleChannelDroplet();
    explicit ParticleChannelDroplet(float defaultValue);
    ParticleChannelDroplet(const ParticleChannelDroplet& other) = default;

    static const char* staticTypeName() { return "particle::droplet"; }
    std::string typeName() const override { return staticTypeName(); }
    Channel* clone() const override;

    // Takes the body's "Droplet Threshold" and "Droplet Mergeback Depth" at
    // the time; a value the body lacks keeps the current one.
    void updateFromBody(const FrameTime& time, const Body& body) override;

    float threshold() const { return threshold_; }
    void setThreshold(float threshold) { threshold_ = threshold; }
    float mergebackDepth() const { return mergebackDepth_; }
    void setMergebackDepth(float depth) { mergebackDepth_ = depth; }

private:
    float threshold_ = 0.0f;
    float mergebackDepth_ = 0.0f;
};

extern template class ParticleChannel<int8_t>;
extern template class ParticleChannel<int>;
extern template class ParticleChannel<float>;
extern template class ParticleChannel<zt::vec3i>;
extern template class ParticleChannel<zt::vec3f>;
extern template class ParticleChannel<int64_t>;

}  // namespace Cb
