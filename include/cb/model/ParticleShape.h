#pragma once
// Cb::ParticleShape ("Particle"): the particles of a body. Every channel is a
// particle channel whose blocks mirror those of the master channel
// "position" (vec3f): same blocks, same element counts, same element order.
// Operations that change the position blocks end by bringing the other
// channels into step (syncChannels), and reblocking and erasing apply the
// same moves and removals to every channel in turn.

#include <cstdint>
#include <string>

#include "cb/model/Md5.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"
#include "zt/block3_array.h"

namespace zt {
class tile_layout3;
}

namespace Cb {

// Flags of ParticleShape::reblock.
enum ReblockFlags : uint32_t {
    // Drop empty blocks and rebuild the layout from scratch.
    kReblockRemoveEmptyBlocks = 1,
    // Build the layout from the particles alone, without first taking over
    // the block structure.
    kReblockWithoutMirror = 2,
};

class ParticleShape : public Shape {
public:
    // With the flag, a vec3f "position" channel with default (0, 0, 0).
    explicit ParticleShape(bool withMaster);
    // Shares the channels and the holds-particles flag; no erase list.
    ParticleShape(const ParticleShape& other);

    Shape* clone() const override;
    // Those of "position"; 0 and true without it.
    int64_t size() const override;
    bool empty() const override;
    // Shares the other shape's "position" in place of this one's (which need
    // not exist). Throws the lookup failure when the other has none.
    void adoptMaster(const Shape& other) override;
    // Loads the positions, carries out a pending erase, then makes every other
    // channel (detached) mirror the position blocks; a channel already in
    // step stays shared. A channel that is not a particle channel throws.
    void syncChannels() override;
    // Registers every channel by name and type code in body.particles,
    // pointing it at the channel's blocks (made resident). Throws
    // "Unhandled channel '<name>' in Cb::ParticleShape::pushZtdBody" for a
    // channel that is not a particle channel.
    void pushZtdBody(ztd::body& body) override;
    // "droplet" (by its channel part) gives a ParticleChannelDroplet named
    // "droplet"; any other name a ParticleChannel<float> with the name as given.
    Channel* createChannel1f(const std::string& name, float defaultValue) override;
    Channel* createChannel1i(const std::string& name, int defaultValue) override;
    // "id64" gives a ParticleChannelId64 named "id64".
    Channel* createChannel1i64(const std::string& name, int64_t defaultValue) override;
    Channel* createChannel3f(const std::string& name, const zt::vec3f& defaultValue) override;
    Channel* createChannel3i(const std::string& name, const zt::vec3i& defaultValue) override;
    // "position", or null.
    Channel* masterChannel() const override;
    // Positions by the whole matrix, velocities without its translation, in
    // parallel over blocks. Both channels must exist as vec3f particle
    // channels; otherwise the lookup fails before anything changes.
    void applyTransform(const float m[16]) override;

    virtual Channel* createChannel1i8(const std::string& name, int8_t defaultValue);
    // MD5 over every position, block by block in global block order (12
    // bytes per particle); the digest of nothing without "position".
    virtual Md5Digest masterDigest() const;

    // Erasing: beginErase sizes the erase list to the position blocks;
    // addErase marks element e of block g (workers may mark different blocks
    // at once; outside a begin/end pair it throws "addErase called outside
    // beginErase/endErase block."); endErase removes the marked elements from
    // every channel, so all stay in step.
    void beginErase();
    void addErase(int64_t g, int e);
    void endErase();
    // After particles have moved: brings every particle into the block of
    // its tile, growing `layout` with the tiles the particles need (see
    // zt::buildFromParticles) and applying the same moves to every channel.
    void reblock(zt::tile_layout3& layout, uint32_t flags);
    // Removes, from every channel, each position block that holds no
    // particle; sets holdsParticles() when any block holds one.
    void removeEmptyBlocks();
    bool holdsParticles() const { return holdsParticles_; }

    // The position channel, or null.
    ParticleChannel<zt::vec3f>* positions();
    const ParticleChannel<zt::vec3f>* positions() const;

private:
    template <class C, class T>
    Channel* addChannel(const std::string& name, const T& defaultValue);
    // The position storage, loaded; throws without a vec3f "position".
    zt::block3_array<zt::vec3f>& positionBlocks();
    // Particle channel i, detached.
    ParticleChannelBase& particleChannel(int i);

    bool holdsParticles_ = false;
    zt::erase_list eraseList_;
};

}  // namespace Cb
