#include "cb/fields/FieldSpecialChannels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cb/Log.h"
#include "cb/values/Object.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

// ---------------------------------------------------------------- fluid-distance

FieldChannelFluidDistance::FieldChannelFluidDistance() : FieldChannel1f(kFarDistance) { setName("fluid-distance"); }

FieldChannelFluidDistance::FieldChannelFluidDistance(const FieldChannelFluidDistance& other)
    : FieldChannel1f(other), dropletThreshold_(other.dropletThreshold_) {
    enforceBackground("construct");
}

Channel* FieldChannelFluidDistance::clone() const { return new FieldChannelFluidDistance(*this); }

void FieldChannelFluidDistance::updateLayout(const zt::tile_layout3& layout) {
    enforceBackground("update");
    FieldChannel1f::updateLayout(layout);
}

void FieldChannelFluidDistance::replaceField(const zt::field3<float>& field) {
    // Loaded first, so that the file cannot overwrite the new values later.
    ensureLoaded();
    field_ = field;
    enforceBackground("replace");
}

void FieldChannelFluidDistance::backgroundRead() { enforceBackground("update"); }

void FieldChannelFluidDistance::enforceBackground(const char* action) {
    const float background = field_.background();
    if (background == kFarDistance) return;
    logWarning(zt::cat("Ignored attempt to ", action, " Field.fluid-distance ", " with background value ", background));
    field_.setBackground(kFarDistance);
}

// ---------------------------------------------------------------- solid-distance

FieldChannelSolidDistance::FieldChannelSolidDistance() : FieldChannel1f(kFarDistance) { setName("solid-distance"); }

FieldChannelSolidDistance::FieldChannelSolidDistance(const FieldChannelSolidDistance& other)
    : FieldChannel1f(other),
      companion_(other.companion_),
      occluders_(other.occluders_),
      rebuiltFineTiles_(other.rebuiltFineTiles_) {}

Channel* FieldChannelSolidDistance::clone() const { return new FieldChannelSolidDistance(*this); }

void FieldChannelSolidDistance::updateLayout(const zt::tile_layout3& layout) {
    FieldChannel1f::updateLayout(layout);
    companion_.resize(layout);
}

void FieldChannelSolidDistance::compactBlocks() {
    // Before the distances: compacting them forgets the layout's report.
    compactField(companion_);
    FieldChannel1f::compactBlocks();
}

void FieldChannelSolidDistance::clear() {
    FieldChannel1f::clear();
    companion_.fineValues().clear();
    companion_.coarseValues().clear();
}

void FieldChannelSolidDistance::addOccluder(const Object* occluder) {
    if (std::find(occluders_.begin(), occluders_.end(), occluder) == occluders_.end())
        occluders_.push_back(occluder);
}

void FieldChannelSolidDistance::removeOccluder(const Object* occluder) {
    const auto found = std::find(occluders_.begin(), occluders_.end(), occluder);
    if (found == occluders_.end())
        throw ztx::base(zt::cat("FieldChannelSolidDistance (", name(), "): Could not clear occluder '",
                                occluder ? occluder->name() : std::string(), "'"));
    *found = occluders_.back();
    occluders_.pop_back();
}

// ---------------------------------------------------------------- particle-count

float defaultParticleCountTarget() { return std::sqrt(std::numeric_limits<float>::max()) * 0.125f; }

FieldChannelParticleCount::FieldChannelParticleCount() : FieldChannel1f(0.0f, 1) { setName("particle-count"); }

Channel* FieldChannelParticleCount::clone() const { return new FieldChannelParticleCount(*this); }

}  // namespace Cb
