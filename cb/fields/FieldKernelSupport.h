#pragma once
// What the field kernels share: size checks, the droplet filter, and walking
// fine voxels and their face neighbours through the tiles.

#include <omp.h>

#include <cstdint>

#include "cb/fields/FieldKernels.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/tile3.h"
#include "zt/ztx.h"

namespace Cb::detail {

// Kernels index fields by the layout's voxel indices: a field of another
// size is a caller's fault, refused before any voxel is touched.
template <class T>
void requireSized(const zt::tile_layout3& layout, const zt::field_base3<T>& field, const char* what) {
    if (field.fineValues().count() != layout.fineVoxelCount() || field.coarseValues().count() != layout.coarseCount())
        throw ztx::base(zt::cat("Field kernel: ", what, " hold ", field.fineValues().count(), " fine and ",
                                field.coarseValues().count(), " coarse values, the layout ", layout.fineVoxelCount(),
                                " and ", layout.coarseCount()));
}

// Particles without a droplet value take part; the others when their value
// is at most the threshold.
inline bool takesPart(const ParticleBlockView& block, size_t k, float threshold) {
    return k >= block.droplet.size() || block.droplet[k] <= threshold;
}

// Calls f(block) for every block, in parallel (one block per chunk) on a
// team of `team` workers (0: the runtime's own); the first failure is raised
// after the loop.
template <class F>
void forEachBlock(std::span<const ParticleBlockView> blocks, F&& f, int team = 0) {
    zt::parallel_errors errors;
    const int64_t count = int64_t(blocks.size());
    const int workers = team > 0 ? team : omp_get_max_threads();
#pragma omp parallel for schedule(dynamic, 1) num_threads(workers)
    for (int64_t b = 0; b < count; ++b) errors.capture(b, [&] { f(blocks[size_t(b)]); });
    errors.rethrow();
}

// Calls f(index, x, y, z) for every voxel of a fine tile, x fastest.
template <class F>
void forEachVoxel(const zt::tile3& tile, F&& f) {
    const int n = int(tile.N());
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) f(tile.voxelIndex(x, y, z), x, y, z);
}

// Calls f(index) for each face neighbour of fine voxel (x, y, z) of `tile`
// that lies in a fine tile, in the order -x, +x, -y, +y, -z, +z.
template <class F>
void forEachFaceNeighbour(const zt::tile3& tile, int x, int y, int z, F&& f) {
    const int n = int(tile.N());
    for (int axis = 0; axis < 3; ++axis) {
        for (const int step : {-1, 1}) {
            int q[3] = {x, y, z};
            int d[3] = {0, 0, 0};
            q[axis] += step;
            if (q[axis] < 0 || q[axis] >= n) {
                d[axis] = step;
                q[axis] -= step * n;
            }
            const zt::tile3* t = (d[axis] != 0) ? tile.neighbour(d[0], d[1], d[2]) : &tile;
            if (t && t->isFine()) f(t->voxelIndex(q[0], q[1], q[2]));
        }
    }
}

}  // namespace Cb::detail
