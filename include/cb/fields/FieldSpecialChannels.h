#pragma once
// The three float field channels with fixed names and backgrounds:
// "fluid-distance" (signed distance to the fluid, 100000 far away),
// "solid-distance" (distance to the solids the occluders contribute, 100000
// far away) and "particle-count" (particles per voxel, 0, at voxel centres).

#include <cstdint>
#include <string>
#include <vector>

#include "cb/fields/FieldChannel.h"

namespace Cb {

class Object;

// Background of the distance channels: far from anything.
constexpr float kFarDistance = 100000.0f;

class FieldChannelFluidDistance : public FieldChannel1f {
public:
    FieldChannelFluidDistance();
    // A background other than kFarDistance is not copied: logs "Ignored
    // attempt to construct Field.fluid-distance  with background value <v>".
    FieldChannelFluidDistance(const FieldChannelFluidDistance& other);

    static const char* staticTypeName() { return "field::fluid-distance"; }
    std::string typeName() const override { return staticTypeName(); }
    Channel* clone() const override;
    // Keeps the background at kFarDistance ("... update ..." warning) first.
    void updateLayout(const zt::tile_layout3& layout) override;
    // Stores the body's "Droplet Threshold" at the time (kept when the body
    // has none).
    void updateFromBody(const FrameTime& time, const Body& body) override;
    // Unless the update mode is 2 (transport), first the body's
    // "solid-distance" channel's updateStep; then rebuildStep.
    void updateStep(const FrameTime& time, const Body& body) override;
    // The distance to the fluid surface from the particle positions: on the
    // body's layout, every fine voxel whose sample point lies within r + h of
    // a fluid particle (droplet value at most the stored threshold) holds the
    // distance to the nearest such particle centre minus r, where r is half a
    // cell times the body's "Fluid Merge Factor" (1 without one); every other
    // value is kFarDistance. Throws "Cannot update fluid-distance with NULL
    // particle-shape" when the body has no particle shape.
    void rebuildStep(const FrameTime& time, const Body& body) override;

    // Takes the values of `field`; its background is refused as above with
    // "... replace ...".
    void replaceField(const zt::field3<float>& field);

    // The body's "Droplet Threshold" at the last updateFromBody.
    float dropletThreshold() const { return dropletThreshold_; }
    void setDropletThreshold(float threshold) { dropletThreshold_ = threshold; }

protected:
    // A file's background other than kFarDistance: "... update ...".
    void backgroundRead() override;

private:
    // action: "construct", "replace" or "update".
    void enforceBackground(const char* action);

    float dropletThreshold_ = 1.0f;
};

class FieldChannelSolidDistance : public FieldChannel1f {
public:
    FieldChannelSolidDistance();
    // Copies the companion field, the occluder list (not owned) and the
    // remembered fine-tile count.
    FieldChannelSolidDistance(const FieldChannelSolidDistance& other);

    static const char* staticTypeName() { return "field::solid-distance"; }
    std::string typeName() const override { return staticTypeName(); }
    Channel* clone() const override;
    // The companion field follows the layout with the distances.
    void updateLayout(const zt::tile_layout3& layout) override;
    void compactBlocks() override;
    void clear() override;
    // Forgets the last rebuild, so that the distances are rebuilt from the
    // occluders as they are now, then rebuildStep.
    void updateStep(const FrameTime& time, const Body& body) override;
    // Nothing when the body's fine-tile list has the length it had at the
    // last rebuild. Otherwise the distances (background kFarDistance) and
    // the companion (background -1) follow the body's layout, reset to their
    // backgrounds on the first rebuild; the body's "solid-velocity" field
    // channel (vec3f), if any, follows too; every occluder is merged in list
    // order (mergeOccluder with its list index); the length is remembered and
    // the "solid-velocity" channel's rebuildStep runs.
    //
    // An occluder contributes when it is a Body with a "Field" shape holding
    // a float field channel "distance", its signed distance (negative inside
    // the solid) on its own layout, and optionally a vec3f field channel
    // "velocity"; any other occluder contributes nothing.
    void rebuildStep(const FrameTime& time, const Body& body) override;

    // Appends an occluder (not owned) unless it is listed.
    void addOccluder(const Object* occluder);
    // The last entry takes its place. Throws "FieldChannelSolidDistance
    // (<name>): Could not clear occluder '<occluder name>'" when it is not
    // listed.
    void removeOccluder(const Object* occluder) override;
    const std::vector<const Object*>& occluders() const { return occluders_; }

    // Per voxel, the list index of the occluder that gave the distance; -1
    // where none did.
    zt::field3<int>& companion() { return companion_; }
    const zt::field3<int>& companion() const { return companion_; }
    // The fine-tile list length at the last rebuild; -1 before the first.
    int64_t rebuiltFineTiles() const { return rebuiltFineTiles_; }

private:
    zt::field3<int> companion_{-1};
    std::vector<const Object*> occluders_;
    int64_t rebuiltFineTiles_ = -1;
};

// The count target when the body names none: no limit.
float defaultParticleCountTarget();

class FieldChannelParticleCount : public FieldChannel1f {
public:
    FieldChannelParticleCount();
    FieldChannelParticleCount(const FieldChannelParticleCount& other) = default;

    static const char* staticTypeName() { return "field::particle-count"; }
    std::string typeName() const override { return staticTypeName(); }
    Channel* clone() const override;
    // Counting runs before the other field hooks.
    int hookPriority() const override { return 10; }
    // Particle counting, the same for both hooks. The target is 3s^3 for the
    // body's "Surface Supersampling" s, raised to 3p^3 for its "Particle
    // Supersampling" p; without either (or not above 0) no limit. Without a
    // particle shape nothing happens. Otherwise the field follows the body's
    // layout; when the particle positions changed since the last update, or
    // the layout's fine-tile list has another length than at the last count
    // (a field never counted included), the values are set to 0 and every
    // particle of every block adds 1 to the voxel containing it (fine voxels
    // only). With "Particle Regulation" reading "On", a particle whose voxel
    // already holds more than the target is removed from the particle shape
    // instead.
    void updateStep(const FrameTime& time, const Body& body) override;
    void rebuildStep(const FrameTime& time, const Body& body) override;

    // The most particles a voxel keeps while regulation is on.
    float targetCount() const { return targetCount_; }
    void setTargetCount(float target) { targetCount_ = target; }

private:
    void count(const FrameTime& time, const Body& body);

    float targetCount_ = defaultParticleCountTarget();
    int64_t countedFineTiles_ = -1;
};

}  // namespace Cb
