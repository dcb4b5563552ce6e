#include <algorithm>
#include <atomic>
#include <cmath>

#include "FieldKernelSupport.h"
#include "cb/fields/FieldKernels.h"

namespace Cb {

namespace {

// Lowers a value to `candidate` unless it is already lower; other workers may
// lower it at the same time.
void atomicMin(float& value, float candidate) {
    std::atomic_ref<float> ref(value);
    float current = ref.load(std::memory_order_relaxed);
    while (candidate < current && !ref.compare_exchange_weak(current, candidate, std::memory_order_relaxed)) {
    }
}

// Voxel range [lo, hi] per axis whose sample points may lie within `reach`
// of p; false when it leaves the 32-bit voxel range or p is not finite.
bool voxelBox(const zt::vec3f& p, const zt::vec3f& offset, float h, float reach, int lo[3], int hi[3]) {
    for (int a = 0; a < 3; ++a) {
        const double l = std::ceil((double(p[a]) - reach - offset[a]) / h);
        const double u = std::floor((double(p[a]) + reach - offset[a]) / h);
        if (!(l >= -2147483648.0 && u < 2147483647.0)) return false;
        lo[a] = int(l);
        hi[a] = int(u);
    }
    return true;
}

struct ParticleDistance {
    const zt::tile_layout3& layout;
    zt::field3<float>& distance;
    zt::vec3f offset;
    float h, radius, reach;

    // The voxels of one fine tile inside the box.
    void visitTile(const zt::tile3& tile, const zt::vec3f& p, const int lo[3], const int hi[3]) const {
        const zt::vec3i& o = tile.origin();
        const int n = int(tile.N());
        int from[3], to[3];
        for (int a = 0; a < 3; ++a) {
            from[a] = std::max(lo[a], o[a]) - o[a];
            to[a] = std::min(hi[a], o[a] + n - 1) - o[a];
            if (from[a] > to[a]) return;
        }
        for (int z = from[2]; z <= to[2]; ++z)
            for (int y = from[1]; y <= to[1]; ++y)
                for (int x = from[0]; x <= to[0]; ++x) {
                    const int v[3] = {o[0] + x, o[1] + y, o[2] + z};
                    double r2 = 0.0;
                    for (int a = 0; a < 3; ++a) {
                        const double d = double(v[a]) * h + offset[a] - p[a];
                        r2 += d * d;
                    }
                    const double r = std::sqrt(r2);
                    if (r <= reach) atomicMin(distance.at(tile.voxelIndex(x, y, z)), float(r - radius));
                }
    }

    void visitParticle(const zt::vec3f& p) const {
        int lo[3], hi[3];
        if (!voxelBox(p, offset, h, reach, lo, hi)) return;
        const int n = int(layout.tileSize());
        int tlo[3], thi[3];
        double boxTiles = 1.0;
        for (int a = 0; a < 3; ++a) {
            tlo[a] = zt::tile_layout3::floorDiv(lo[a], n);
            thi[a] = zt::tile_layout3::floorDiv(hi[a], n);
            boxTiles *= double(thi[a]) - tlo[a] + 1;
        }
        // A box larger than the layout walks the layout's tiles instead.
        if (boxTiles > double(layout.fineCount())) {
            for (const zt::tile3* tile : layout.fineTiles())
                if (tile) visitTile(*tile, p, lo, hi);
            return;
        }
        for (int k = tlo[2]; k <= thi[2]; ++k)
            for (int j = tlo[1]; j <= thi[1]; ++j)
                for (int i = tlo[0]; i <= thi[0]; ++i) {
                    const zt::tile3* tile = layout.findTile(i, j, k);
                    if (tile && tile->isFine()) visitTile(*tile, p, lo, hi);
                }
    }
};

}  // namespace

void particleDistance(const zt::tile_layout3& layout, std::span<const ParticleBlockView> blocks, float dropletThreshold,
                      float radius, zt::field3<float>& distance) {
    detail::requireSized(layout, distance, "distances");
    if (!std::isfinite(radius)) throw ztx::base(zt::cat("Field kernel: particle radius ", radius, " is not finite"));
    const float h = layout.cellSize();
    const ParticleDistance kernel{layout, distance, layout.sampleOffset(distance.sampleSet()), h, radius,
                                  std::max(radius, 0.0f) + h};
    detail::forEachBlock(blocks, [&](const ParticleBlockView& block) {
        for (size_t k = 0; k < block.positions.size(); ++k)
            if (detail::takesPart(block, k, dropletThreshold)) kernel.visitParticle(block.positions[k]);
    });
}

}  // namespace Cb
