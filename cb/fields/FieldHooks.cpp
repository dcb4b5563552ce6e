// The step hooks of the plain field channels: the reset of int fields and
// particle splatting of float and vec3f fields.
#include <algorithm>

#include "FieldBodyAccess.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldKernels.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

template <class T>
void resetToBackground(const FieldChannelBase& channel, zt::field3<T>& field, const char* kind, const Body& body) {
    if (channel.updateMode() != kFieldUpdateReset)
        throw ztx::base(zt::cat(kind, " Field-Channel '", channel.name(), "' requires 'Reset' Time-Step Update"));
    channel.ensureLoaded();
    field.resize(body.layout());
    field.fill(field.background());
}

// Splats the particle channel of the channel's name and element type T into
// the component fields, one component at a time on its own sample set.
template <class T>
void splatFromBody(const FieldChannelBase& channel, std::span<zt::field3<float>* const> fields, const FrameTime& time,
                   const Body& body) {
    const float threshold = float(detail::bodyNumber(body, "Droplet Threshold", time, 1.0));
    channel.ensureLoaded();
    const ParticleShape* shape = detail::particlesOf(body);
    const ParticleChannel<T>* source = nullptr;
    if (shape) {
        const int i = shape->indexOf(channel.name());
        if (i >= 0) source = dynamic_cast<const ParticleChannel<T>*>(shape->channel(i).get());
    }
    if (!source)
        throw ztx::base(zt::cat("Cannot particle-splat field-channel '", channel.name(),
                                "': no matching particle-channel found in body"));
    const zt::tile_layout3& layout = body.layout();
    const bool divide = channel.flag(kFieldFlagB);
    for (size_t c = 0; c < fields.size(); ++c) {
        zt::field3<float>& field = *fields[c];
        field.resize(layout);
        // A mean must not include the background: see finishSplat.
        field.fill(divide ? 0.0f : field.background());
        zt::field3<float> weights(0.0f, field.sampleSet());
        weights.resize(layout);
        zt::field3<int64_t> reached(0, field.sampleSet());
        reached.resize(layout);
        const std::vector<ParticleBlockView> blocks = detail::blockViews(*shape, source, int(c), true);
        zt::field3<float>* const one[] = {&field};
        splatParticles(layout, blocks, threshold, one, weights);
        finishSplat(one, weights, reached, divide);
        const bool anyParticles =
            std::any_of(blocks.begin(), blocks.end(), [](const ParticleBlockView& b) { return !b.positions.empty(); });
        if (anyParticles && channel.flag(kFieldFlagC)) extendIntoUnreached(layout, reached, one);
    }
}

}  // namespace

void FieldChannel1i::updateStep(const FrameTime&, const Body& body) { resetToBackground(*this, field_, "Int", body); }

void FieldChannel1i64::updateStep(const FrameTime&, const Body& body) {
    resetToBackground(*this, field_, "Int64", body);
}

void FieldChannel1f::updateStep(const FrameTime& time, const Body& body) {
    if (updateMode() != kFieldUpdateParticleSplat) return;
    zt::field3<float>* const fields[] = {&field_};
    splatFromBody<float>(*this, fields, time, body);
}

void FieldChannel3f::updateStep(const FrameTime& time, const Body& body) {
    if (updateMode() != kFieldUpdateParticleSplat) return;
    zt::field3<float>* const fields[] = {&fields_[0], &fields_[1], &fields_[2]};
    splatFromBody<zt::vec3f>(*this, fields, time, body);
}

}  // namespace Cb
