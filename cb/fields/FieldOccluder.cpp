#include "FieldKernelSupport.h"
#include "cb/fields/FieldKernels.h"

namespace Cb {

namespace {

zt::vec3f samplePoint(const zt::tile_layout3& layout, const zt::tile3& tile, int x, int y, int z, int sampleSet) {
    const zt::vec3i& o = tile.origin();
    const zt::vec3f& offset = layout.sampleOffset(sampleSet);
    const float h = layout.cellSize();
    return {float(o[0] + x) * h + offset[0], float(o[1] + y) * h + offset[1], float(o[2] + z) * h + offset[2]};
}

}  // namespace

void mergeOccluder(const zt::tile_layout3& layout, zt::field3<float>& distance, zt::field3<int>& companion,
                   std::span<zt::field3<float>* const> velocity, int occluderIndex, const OccluderView& occluder) {
    detail::requireSized(layout, distance, "solid distances");
    detail::requireSized(layout, companion, "occluder indices");
    for (const zt::field3<float>* v : velocity)
        if (v) detail::requireSized(layout, *v, "solid velocities");
    if (!occluder.layout || !occluder.distance) return;
    const int64_t slots = layout.fineCount();
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t s = 0; s < slots; ++s) {
        const zt::tile3* tile = layout.fineTile(s);
        if (!tile) continue;
        detail::forEachVoxel(*tile, [&](int64_t i, int x, int y, int z) {
            float d = occluder.distance->background();
            const zt::vec3f p = samplePoint(layout, *tile, x, y, z, distance.sampleSet());
            if (!occluder.distance->sample(p, *occluder.layout, d) || !(d < distance.at(i))) return;
            distance.at(i) = d;
            companion.at(i) = occluderIndex;
            for (size_t c = 0; c < velocity.size() && c < 3; ++c) {
                if (!velocity[c]) continue;
                const zt::field3<float>* source = occluder.velocity[c];
                const zt::vec3f pc = samplePoint(layout, *tile, x, y, z, velocity[c]->sampleSet());
                velocity[c]->at(i) = source ? source->sample(pc, *occluder.layout) : 0.0f;
            }
        });
    }
}

}  // namespace Cb
