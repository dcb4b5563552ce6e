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

    // The most particles a voxel keeps while regulation is on.
    float targetCount() const { return targetCount_; }
    void setTargetCount(float target) { targetCount_ = target; }

private:
    float targetCount_ = defaultParticleCountTarget();
};

}  // namespace Cb
