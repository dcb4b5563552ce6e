#include "zt/block3_tiles.h"

#include <omp.h>

#include <algorithm>
#include <set>
#include <vector>

#include "zt/cat.h"
#include "zt/parallel.h"

namespace zt {

namespace {

// Faces near a particle or used by a block: bit 2a for the low face of axis
// a, bit 2a + 1 for the high face.
using face_flags = unsigned;

face_flags nearFaces(const vec3i& voxel, const vec3i& tile, int N) {
    face_flags flags = 0;
    for (int a = 0; a < 3; ++a) {
        if (voxel[a] - N * tile[a] < kParticleFaceMargin) flags |= 1u << (2 * a);
        if (N * (tile[a] + 1) - 1 - voxel[a] < kParticleFaceMargin) flags |= 1u << (2 * a + 1);
    }
    return flags;
}

// The tile and each of its 26 neighbours whose crossed faces are all flagged.
void addWithNeighbours(std::set<tile_key>& tiles, const vec3i& t, face_flags flags) {
    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int d[3] = {dx, dy, dz};
                bool wanted = true;
                for (int a = 0; a < 3 && wanted; ++a) {
                    if (d[a] < 0) wanted = (flags & (1u << (2 * a))) != 0;
                    if (d[a] > 0) wanted = (flags & (1u << (2 * a + 1))) != 0;
                }
                if (wanted) tiles.insert(tile_key{t[0] + dx, t[1] + dy, t[2] + dz});
            }
}

// Slots [first, list count) of one block list become layout slots: a block's
// tile through `add`, a null slot through `addEmpty`.
template <class Add, class AddEmpty, class Count>
void mirrorList(const block3_array<vec3f>& particles, int list, int64_t first, Add add, AddEmpty addEmpty,
                Count count) {
    for (int64_t s = first; s < particles.listCount(list); ++s) {
        const block3_base* b = particles.residentBlock(list, s);
        if (!b) {
            addEmpty();
            continue;
        }
        add(*b);
        if (count() != s + 1)
            throw ztx::base(cat("Cannot build a tile layout: two particle blocks hold tile (", b->i(), ", ", b->j(),
                                ", ", b->k(), ")"));
    }
}

void mirrorBlocks(tile_layout3& layout, const block3_array<vec3f>& particles) {
    mirrorList(
        particles, 0, layout.fineCount(), [&](const block3_base& b) { layout.addTile(b.i(), b.j(), b.k(), false); },
        [&] { layout.appendEmptyFineSlot(); }, [&] { return layout.fineCount(); });
    mirrorList(
        particles, 1, std::max<int64_t>(layout.coarseCount(), 1),
        [&](const block3_base& b) { layout.addCoarseTile(b.i(), b.j(), b.k(), nullptr); },
        [&] { layout.appendEmptyCoarseSlot(); }, [&] { return layout.coarseCount(); });
}

}  // namespace

void buildFromParticles(tile_layout3& layout, const block3_array<vec3f>& particles, bool mirror,
                        const block3_array<float>* filter, float threshold, int threads) {
    if (mirror) mirrorBlocks(layout, particles);

    const int workers = threads > 0 ? threads : std::max(1, omp_get_max_threads());
    const int N = int(layout.tileSize());
    const int64_t total = particles.blockCount();
    std::vector<std::set<tile_key>> wanted(static_cast<size_t>(workers));
    parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) num_threads(workers) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        errors.capture(g, [&] {
            const block3<vec3f>* b = particles.residentTypedBlock(g);
            if (!b || b->empty()) return;
            const block3<float>* values = filter ? filter->residentTypedBlock(g) : nullptr;
            std::set<tile_key>& tiles = wanted[size_t(omp_get_thread_num())];
            const vec3i own = b->coord();
            bool used = false;
            face_flags blockFaces = 0;
            for (int64_t e = 0; e < b->count(); ++e) {
                bool accepted = true;
                if (filter) {
                    const float value = values && e < values->count() ? (*values)[e] : 0.0f;
                    accepted = value < threshold;
                }
                if (!accepted) continue;
                vec3i voxel;
                if (!layout.voxelAt((*b)[e], 0, voxel)) continue;
                const vec3i t = layout.tileOfVoxel(voxel);
                const face_flags faces = nearFaces(voxel, t, N);
                if (t == own) {
                    used = true;
                    blockFaces |= faces;
                } else {
                    addWithNeighbours(tiles, t, faces);
                }
            }
            if (used) addWithNeighbours(tiles, own, blockFaces);
        });
    }
    errors.rethrow();

    // One ordered set, so the tiles join the layout in the same order
    // whatever the thread count.
    std::set<tile_key> all;
    for (std::set<tile_key>& tiles : wanted) all.merge(tiles);
    for (const tile_key& t : all) layout.addTile(t.i, t.j, t.k, false);
    layout.updateNeighbours(true);
}

}  // namespace zt
