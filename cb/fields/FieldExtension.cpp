#include <vector>

#include "FieldKernelSupport.h"
#include "cb/fields/FieldKernels.h"

namespace Cb {

namespace {

constexpr int64_t kUnreached = -1;

// A fine voxel index taken apart: its tile and local coordinates.
struct Voxel {
    const zt::tile3* tile;
    int x, y, z;
};

Voxel decode(const zt::tile_layout3& layout, int64_t index) {
    const int64_t n = layout.tileSize(), n3 = layout.voxelsPerTile();
    const int64_t local = index % n3;
    return {layout.fineTile(index / n3), int(local % n), int((local / n) % n), int(local / (n * n))};
}

template <class F>
void forEachNeighbourOf(const zt::tile_layout3& layout, int64_t index, F&& f) {
    const Voxel v = decode(layout, index);
    detail::forEachFaceNeighbour(*v.tile, v.x, v.y, v.z, f);
}

// Layer 1: every unreached voxel with a reached face neighbour, tile by tile
// in fine-list order.
std::vector<int64_t> firstLayer(const zt::tile_layout3& layout, const int64_t* distance) {
    const int64_t slots = layout.fineCount();
    std::vector<std::vector<int64_t>> perTile(static_cast<size_t>(slots));
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t s = 0; s < slots; ++s) {
        const zt::tile3* tile = layout.fineTile(s);
        if (!tile) continue;
        detail::forEachVoxel(*tile, [&](int64_t i, int x, int y, int z) {
            if (distance[i] != kUnreached) return;
            bool touches = false;
            detail::forEachFaceNeighbour(*tile, x, y, z, [&](int64_t u) { touches = touches || distance[u] == 0; });
            if (touches) perTile[size_t(s)].push_back(i);
        });
    }
    std::vector<int64_t> layer;
    for (const auto& part : perTile) layer.insert(layer.end(), part.begin(), part.end());
    return layer;
}

}  // namespace

void extendIntoUnreached(const zt::tile_layout3& layout, zt::field3<int64_t>& distance,
                         std::span<zt::field3<float>* const> values) {
    detail::requireSized(layout, distance, "extension distances");
    for (const zt::field3<float>* field : values) detail::requireSized(layout, *field, "extension values");
    int64_t* dist = distance.fineValues().data();
    const int64_t fineVoxels = layout.fineVoxelCount();
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < fineVoxels; ++i) dist[i] = dist[i] != 0 ? 0 : kUnreached;

    std::vector<int64_t> layer = firstLayer(layout, dist);
    for (const int64_t i : layer) dist[i] = 1;
    std::vector<int64_t> next;
    for (int64_t d = 1; !layer.empty(); ++d) {
        const int64_t count = int64_t(layer.size());
        // Only voxels of earlier layers are read, and they are final.
#pragma omp parallel for schedule(static)
        for (int64_t k = 0; k < count; ++k) {
            const int64_t i = layer[size_t(k)];
            int64_t sources[6];
            int found = 0;
            forEachNeighbourOf(layout, i, [&](int64_t u) {
                if (dist[u] >= 0 && dist[u] < d) sources[found++] = u;
            });
            for (zt::field3<float>* field : values) {
                double sum = 0.0;
                for (int s = 0; s < found; ++s) sum += double(field->at(sources[s]));
                field->at(i) = float(sum / double(found));
            }
        }
        next.clear();
        for (const int64_t i : layer) {
            forEachNeighbourOf(layout, i, [&](int64_t u) {
                if (dist[u] != kUnreached) return;
                dist[u] = d + 1;
                next.push_back(u);
            });
        }
        layer.swap(next);
    }
}

}  // namespace Cb
