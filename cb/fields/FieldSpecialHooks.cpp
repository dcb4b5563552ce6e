// The step hooks of "fluid-distance", "solid-distance" and "particle-count".
#include <omp.h>

#include <mutex>

#include "FieldBodyAccess.h"
#include "cb/ThreadCount.h"
#include "cb/fields/FieldKernels.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// A field channel of the body's field shape, of class C, for modification;
// null when the body has no such channel.
template <class C>
C* bodyFieldChannel(const Body& body, const std::string& name) {
    if (!body.hasShape("Field")) return nullptr;
    FieldShape* shape = detail::mutableBody(body).mutableFieldShape();
    const int i = shape->indexOf(name);
    if (i < 0 || !dynamic_cast<const C*>(shape->channel(i).get())) return nullptr;
    return static_cast<C*>(shape->mutableChannel(i).mutableGet());
}

// What an occluder contributes: its "Field.distance" (float) and
// "Field.velocity" (vec3f) channels on its own layout.
OccluderView occluderView(const Object* occluder) {
    OccluderView view;
    const auto* body = dynamic_cast<const Body*>(occluder);
    if (!body || !body->hasShape("Field")) return view;
    const auto* shape = dynamic_cast<const FieldShape*>(body->shape("Field").get());
    if (!shape) return view;
    const int d = shape->indexOf("distance");
    const auto* distance = d >= 0 ? dynamic_cast<const FieldChannel1f*>(shape->channel(d).get()) : nullptr;
    if (!distance) return view;
    view.layout = &body->layout();
    view.distance = &distance->field();
    const int v = shape->indexOf("velocity");
    if (const auto* velocity = v >= 0 ? dynamic_cast<const FieldChannel3f*>(shape->channel(v).get()) : nullptr)
        for (int c = 0; c < 3; ++c) view.velocity[c] = &velocity->field(c);
    return view;
}

}  // namespace

// ---------------------------------------------------------------- fluid-distance

void FieldChannelFluidDistance::updateFromBody(const FrameTime& time, const Body& body) {
    dropletThreshold_ = float(detail::bodyNumber(body, "Droplet Threshold", time, dropletThreshold_));
}

void FieldChannelFluidDistance::updateStep(const FrameTime& time, const Body& body) {
    if (updateMode() != kFieldUpdateTransport) {
        if (auto* solid = bodyFieldChannel<FieldChannelSolidDistance>(body, "solid-distance"))
            solid->updateStep(time, body);
    }
    rebuildStep(time, body);
}

void FieldChannelFluidDistance::rebuildStep(const FrameTime& time, const Body& body) {
    const ParticleShape* particles = detail::particlesOf(body);
    if (!particles) throw ztx::base("Cannot update fluid-distance with NULL particle-shape");
    const zt::tile_layout3& layout = body.layout();
    const float radius = 0.5f * layout.cellSize() * float(detail::bodyNumber(body, "Fluid Merge Factor", time, 1.0));
    ensureLoaded();
    field_.setBackground(kFarDistance);
    field_.resize(layout);
    field_.fill(kFarDistance);
    const std::vector<ParticleBlockView> blocks = detail::blockViews<float>(*particles, nullptr, 0, false);
    particleDistance(layout, blocks, dropletThreshold_, radius, field_);
}

// ---------------------------------------------------------------- solid-distance

void FieldChannelSolidDistance::updateStep(const FrameTime& time, const Body& body) {
    rebuiltFineTiles_ = -1;
    rebuildStep(time, body);
}

void FieldChannelSolidDistance::rebuildStep(const FrameTime& time, const Body& body) {
    if (!body.layoutHandle()) return;
    const zt::tile_layout3& layout = body.layout();
    if (layout.fineCount() == rebuiltFineTiles_) return;
    ensureLoaded();
    const bool first = rebuiltFineTiles_ < 0;
    if (first) {
        field_.setBackground(kFarDistance);
        companion_.setBackground(-1);
    }
    field_.resize(layout);
    companion_.resize(layout);
    if (first) {
        field_.fill(kFarDistance);
        companion_.fill(-1);
    }
    FieldChannel3f* velocity = bodyFieldChannel<FieldChannel3f>(body, "solid-velocity");
    zt::field3<float>* velocities[3] = {nullptr, nullptr, nullptr};
    if (velocity) {
        for (int c = 0; c < 3; ++c) {
            velocities[c] = &velocity->field(c);
            velocities[c]->resize(layout);
        }
    }
    const std::span<zt::field3<float>* const> velocityFields(velocities, velocity ? 3 : 0);
    for (size_t k = 0; k < occluders_.size(); ++k)
        mergeOccluder(layout, field_, companion_, velocityFields, int(k), occluderView(occluders_[k]));
    rebuiltFineTiles_ = layout.fineCount();
    if (velocity) velocity->rebuildStep(time, body);
}

// ---------------------------------------------------------------- particle-count

void FieldChannelParticleCount::updateStep(const FrameTime& time, const Body& body) { count(time, body); }

void FieldChannelParticleCount::rebuildStep(const FrameTime& time, const Body& body) { count(time, body); }

void FieldChannelParticleCount::count(const FrameTime& time, const Body& body) {
    float target = -1.0f;
    if (body.hasValue("Surface Supersampling")) {
        const float s = float(detail::bodyNumber(body, "Surface Supersampling", time, 0.0));
        target = 3.0f * s * s * s;
    }
    if (body.hasValue("Particle Supersampling")) {
        const float p = float(detail::bodyNumber(body, "Particle Supersampling", time, 0.0));
        target = std::max(target, 3.0f * p * p * p);
    }
    if (!(target > 0.0f)) target = defaultParticleCountTarget();
    targetCount_ = target;

    if (!body.hasShape("Particle")) return;
    const bool regulate = detail::bodyText(body, "Particle Regulation", time) == "On";
    // Regulation removes particles: the shape is taken for modification.
    ParticleShape* eraser = regulate ? detail::mutableBody(body).mutableParticleShape() : nullptr;
    const ParticleShape* particles = regulate ? eraser : body.particleShape();
    ensureLoaded();
    const zt::tile_layout3& layout = body.layout();
    field_.resize(layout);
    const bool moved = (particles->modifiedFlags() & kPositionModified) != 0;
    if (!moved && countedFineTiles_ == layout.fineCount()) return;
    field_.setBackground(0.0f);
    field_.fill(0.0f);

    const std::vector<ParticleBlockView> blocks = detail::blockViews<float>(*particles, nullptr, 0, false);
    const int64_t voxelsPerTile = layout.voxelsPerTile();
    if (eraser) eraser->beginErase();
    zt::parallel_errors errors;
    const int64_t blockCount = int64_t(blocks.size());
    // Counting alone adds whole numbers and comes out the same in any order;
    // which particles regulation keeps depends on the order, so its team is
    // the library's, not the machine's.
    const int team = regulate ? Cb::libraryThreadCount() : omp_get_max_threads();
#pragma omp parallel for schedule(dynamic, 1) num_threads(team)
    for (int64_t g = 0; g < blockCount; ++g) {
        errors.capture(g, [&] {
            const std::span<const zt::vec3f> positions = blocks[size_t(g)].positions;
            for (int64_t e = int64_t(positions.size()) - 1; e >= 0; --e) {
                const int64_t index = layout.indexAt(positions[size_t(e)], 0);
                if (index < 0) continue;
                bool keep = true;
                {
                    std::lock_guard<zt::omp_lock> guard(layout.fineTile(index / voxelsPerTile)->lock());
                    float& count = field_.at(index);
                    keep = !regulate || count <= target;
                    if (keep) count += 1.0f;
                }
                if (!keep) eraser->addErase(g, int(e));
            }
        });
    }
    errors.rethrow();
    if (eraser) eraser->endErase();
    countedFineTiles_ = layout.fineCount();
}

}  // namespace Cb
