#pragma once
// The voxel work of the field channels' step hooks, on plain layouts, fields
// and particle spans, so that it can be checked apart from bodies:
//
// - splatParticles / finishSplat: particle values spread over the eight
//   voxels around each particle with trilinear weights, then (optionally)
//   divided by the weights and marked as reached;
// - extendIntoUnreached: the values of reached fine voxels carried into the
//   unreached ones, layer by layer;
// - particleDistance: distance to the nearest particle surface near the
//   particles (the fluid-distance rebuild);
// - mergeOccluder: one solid's signed distance and velocity merged into the
//   solid-distance fields.
//
// Every field handed in must be sized to the layout (field3::resize), and
// fine-voxel work covers the fine tiles of the layout's fine list.

#include <cstdint>
#include <span>

#include "zt/field3.h"
#include "zt/tile_layout3.h"
#include "zt/vec.h"

namespace Cb {

// One particle block: positions, the per-particle values to splat (the C
// components of particle k at values + k * valueStride, C the number of value
// fields; may be null for the distance), and the droplet values (empty when
// the shape has no droplet channel).
struct ParticleBlockView {
    std::span<const zt::vec3f> positions;
    const float* values = nullptr;
    int valueStride = 1;
    std::span<const float> droplet;
};

// The weight every corner of a particle receives on top of its trilinear
// weight, so that a particle reaches all eight voxels.
constexpr float kSplatWeightFloor = 1e-06f;

// For every particle whose droplet value (if any) is at most
// dropletThreshold, the base voxel and fractions come from its position and
// the sample set of values[0]. A particle is skipped when its base voxel is
// not in a fine tile (coarse tiles have no neighbour table to reach the
// corners through) or a corner lies in no tile. Otherwise each corner voxel
// (fine or coarse) receives w = trilinear weight * 1.0 + kSplatWeightFloor:
// every component field c adds w * value[c], `weights` adds w. Parallel over
// blocks; each tile's lock guards the writes into its voxels.
void splatParticles(const zt::tile_layout3& layout, std::span<const ParticleBlockView> blocks, float dropletThreshold,
                    std::span<zt::field3<float>* const> values, zt::field3<float>& weights);

// Every voxel with a nonzero weight is marked reached (reached := 1); with
// `divide` its values are divided by its weight, and the values must come in
// as plain weighted sums (splatted onto 0): the background is no part of the
// mean, since divided by a floor-only weight it would swamp the voxel.
// Unreached voxels then get the background. Fine voxels and coarse slots
// alike: a coarse slot then holds the weighted mean of the particles that
// reached it, like a fine voxel. Parallel over voxels.
void finishSplat(std::span<zt::field3<float>* const> values, const zt::field3<float>& weights,
                 zt::field3<int64_t>& reached, bool divide);

// Breadth-first extension over the layout's fine voxels and their face
// neighbours (reached through the tiles' neighbour tables; neighbours in
// coarse or missing tiles do not count). `distance` comes in as the reached
// mask (nonzero = reached) and leaves as an integer distance field: 0 for
// reached voxels, d for the voxels of layer d, -1 for voxels no reached
// voxel connects to. Layer 1 is every unreached voxel with a reached face
// neighbour; layer d + 1 the unreached face neighbours of layer d. Each voxel
// of layer d takes, in every component field, the mean of its face
// neighbours of layers below d. Voxels left at -1 keep their values. The
// voxels of one layer are computed in parallel; the layers are deterministic.
void extendIntoUnreached(const zt::tile_layout3& layout, zt::field3<int64_t>& distance,
                         std::span<zt::field3<float>* const> values);

// For every particle whose droplet value (if any) is at most
// dropletThreshold, every fine voxel whose sample point s lies within
// radius + cellSize of the particle centre p takes min(current, |s - p| -
// radius). Voxels near no particle keep their value (callers start from the
// background). Parallel over blocks; minima are taken atomically.
void particleDistance(const zt::tile_layout3& layout, std::span<const ParticleBlockView> blocks, float dropletThreshold,
                      float radius, zt::field3<float>& distance);

// What one occluder contributes: a signed distance field (negative inside
// the solid) on its own layout, and optionally the solid's velocity.
struct OccluderView {
    const zt::tile_layout3* layout = nullptr;
    const zt::field3<float>* distance = nullptr;
    const zt::field3<float>* velocity[3] = {nullptr, nullptr, nullptr};
};

// For every fine voxel of `layout`: the occluder's distance sampled at the
// voxel's sample point (for the sample set of `distance`); when the sample
// exists (its base voxel lies in a fine tile of the occluder's layout) and is
// below the voxel's distance, the voxel takes it, `companion` takes
// occluderIndex and each velocity component field (where given) takes the
// occluder's velocity component sampled at that component's sample point (0
// where the occluder has none). Parallel over fine tiles; each voxel is
// written by one worker.
void mergeOccluder(const zt::tile_layout3& layout, zt::field3<float>& distance, zt::field3<int>& companion,
                   std::span<zt::field3<float>* const> velocity, int occluderIndex, const OccluderView& occluder);

}  // namespace Cb
