// Tile layout: voxel numbering, coarse shells, promotion, positions, copies,
// settling and the checks on sizes and coordinates.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <cmath>
#include <mutex>
#include <omp.h>

#include "zt/tile_layout3.h"

namespace {

zt::vec3f v3(float x, float y, float z) { return {{x, y, z}}; }

// Centre of global voxel (x, y, z).
zt::vec3f centre(const zt::tile_layout3& l, int x, int y, int z) {
    const float h = l.cellSize();
    return v3((float(x) + 0.5f) * h, (float(y) + 0.5f) * h, (float(z) + 0.5f) * h);
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(TileLayout, NewLayoutIsEmptyWithItsDerivedGeometry) {
    zt::tile_layout3 l(0.5f, 8);
    EXPECT_EQ(0.5f, l.cellSize());
    EXPECT_EQ(0.25f, l.halfCellSize());
    EXPECT_EQ(2.0f, l.invCellSize());
    EXPECT_EQ(8u, l.tileSize());
    EXPECT_EQ(512u, l.voxelsPerTile());
    EXPECT_EQ(v3(0, 0, 0), l.sampleOffset(0));
    EXPECT_EQ(v3(0.25f, 0.25f, 0.25f), l.sampleOffset(1));
    EXPECT_EQ(v3(0.5f, 0.25f, 0.25f), l.sampleOffset(2));
    EXPECT_EQ(v3(0.25f, 0.5f, 0.25f), l.sampleOffset(3));
    EXPECT_EQ(v3(0.25f, 0.25f, 0.5f), l.sampleOffset(4));
    EXPECT_EQ(0, l.fineCount());
    EXPECT_EQ(1, l.coarseCount());
    EXPECT_EQ(nullptr, l.coarseTile(0));
    EXPECT_EQ(0, l.fineVoxelCount());
    EXPECT_EQ(0, l.tileCount());
    EXPECT_TRUE(l.dirty());
    EXPECT_FALSE(l.hasEmptyFineSlots());
    EXPECT_FALSE(l.hasEmptyCoarseSlots());
}

TEST(TileLayout, IndexAtNeedsATileAndNumbersVoxelsXFastest) {
    zt::tile_layout3 l(0.5f, 8);
    EXPECT_EQ(-1, l.indexAt(v3(0.3f, 0.3f, 0.3f), 1));
    zt::tile3* t0 = l.addTile(0, 0, 0, false);
    EXPECT_EQ(0, l.indexAt(v3(0.3f, 0.3f, 0.3f), 1));  // the voxel centred at 0.25
    EXPECT_EQ(-1, l.indexAt(v3(4.2f, 0.1f, 0.1f), 0));  // voxel 8 lies in tile (1,0,0)
    // voxel (2, 1, 4): 2 + 1*8 + 4*64
    EXPECT_EQ(266, l.indexAt(v3(1.3f, 0.6f, 2.1f), 0));
    zt::tile3* t1 = l.addTile(1, 0, 0, false);
    EXPECT_EQ(512, l.indexAt(v3(4.2f, 0.1f, 0.1f), 0));
    EXPECT_EQ(512 + 3 + 7 * 8 + 5 * 64, l.indexAt(centre(l, 11, 7, 5), 1));
    EXPECT_EQ(2, l.fineCount());
    EXPECT_EQ(1024, l.fineVoxelCount());
    EXPECT_EQ(t0, l.fineTile(0));
    EXPECT_EQ(t1, l.fineTile(1));
    EXPECT_EQ(t0, l.addTile(0, 0, 0, false));  // an existing fine tile is returned as is
    EXPECT_EQ(2, l.fineCount());

    // Fields of a fresh fine tile.
    EXPECT_EQ(0, t1->level());
    EXPECT_EQ(1, t1->sign());
    EXPECT_EQ(512, t1->offset());
    EXPECT_EQ(1024, t1->end());
    EXPECT_EQ(4u, t1->half());
    EXPECT_EQ(1u, t1->stride(0));
    EXPECT_EQ(8u, t1->stride(1));
    EXPECT_EQ(64u, t1->stride(2));
    EXPECT_EQ(-1, t1->previousOffset());
    EXPECT_EQ(zt::vec3i({8, 0, 0}), t1->origin());
    EXPECT_EQ(&l, t1->layout());
    EXPECT_EQ(1, l.blockIndex(*t1));
}

TEST(TileLayout, NeighbourUpdateBuildsTheCoarseShell) {
    zt::tile_layout3 l(0.5f, 8);
    zt::tile3* fine = l.addTile(0, 0, 0, false);
    l.updateNeighbours(true);
    EXPECT_FALSE(l.dirty());
    EXPECT_EQ(1, l.fineCount());
    EXPECT_EQ(27, l.coarseCount());
    EXPECT_EQ(nullptr, l.coarseTile(0));
    EXPECT_EQ(27, l.tileCount());
    EXPECT_EQ(fine, fine->neighbour(zt::tile3::kSelf));

    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const zt::tile3* n = fine->neighbour(dx, dy, dz);
                ASSERT_NE(nullptr, n);
                EXPECT_EQ(l.findTile(dx, dy, dz), n);
                if (dx == 0 && dy == 0 && dz == 0) continue;
                EXPECT_TRUE(n->isCoarse());
                EXPECT_EQ(fine, n->requester());
                EXPECT_EQ(n, l.coarseTile(n->offset()));
                for (int e = 0; e < zt::tile3::kNeighbourCount; ++e) EXPECT_EQ(nullptr, n->neighbour(e));
            }

    const zt::tile3* right = l.findTile(1, 0, 0);
    const int64_t s = right->offset();
    EXPECT_GE(s, 1);
    EXPECT_EQ(-1, right->sign());
    EXPECT_EQ(0u, right->stride(0) + right->stride(1) + right->stride(2));
    EXPECT_EQ(s + 512, right->end());
    EXPECT_EQ(s, l.blockIndex(*right));  // coarse slot + fine count - 1
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 8; ++y)
            for (int x = 8; x < 16; ++x) ASSERT_EQ(-s, l.indexAt(centre(l, x, y, z), 1));

    // Without changes nothing is rebuilt; clearing needs a dirty layout.
    l.updateNeighbours(false);
    EXPECT_EQ(right, fine->neighbour(1, 0, 0));
    l.addTile(5, 5, 5, true);
    l.updateNeighbours(false);
    EXPECT_EQ(nullptr, fine->neighbour(1, 0, 0));
    EXPECT_FALSE(l.dirty());
}

TEST(TileLayout, AddTileWithNeighboursFillsItsTableAtOnce) {
    zt::tile_layout3 l(1.0f, 4);
    zt::tile3* t = l.addTile(-3, 2, 7, true);
    EXPECT_TRUE(l.dirty());
    EXPECT_EQ(27, l.coarseCount());
    EXPECT_EQ(l.findTile(-4, 1, 8), t->neighbour(-1, -1, 1));
    EXPECT_EQ(t, l.findTile(-4, 1, 8)->requester());
}

TEST(TileLayout, PromotionTakesTheNextFineBlockAndEmptiesTheCoarseSlot) {
    zt::tile_layout3 l(0.5f, 8);
    zt::tile3* fine = l.addTile(0, 0, 0, false);
    l.updateNeighbours(true);
    zt::tile3* right = l.findTile(1, 0, 0);
    const int64_t s = right->offset();

    EXPECT_EQ(right, l.addTile(1, 0, 0, false));  // same object, now fine
    EXPECT_TRUE(right->isFine());
    EXPECT_EQ(1, right->sign());
    EXPECT_EQ(512, right->offset());
    EXPECT_EQ(1024, right->end());
    EXPECT_EQ(s, right->previousOffset());
    EXPECT_EQ(64u, right->stride(2));
    EXPECT_EQ(nullptr, right->neighbour(zt::tile3::kSelf));
    EXPECT_EQ(2, l.fineCount());
    EXPECT_EQ(1024, l.fineVoxelCount());
    EXPECT_EQ(27, l.coarseCount());
    EXPECT_EQ(nullptr, l.coarseTile(s));
    EXPECT_TRUE(l.hasEmptyCoarseSlots());
    EXPECT_FALSE(l.hasEmptyFineSlots());
    EXPECT_TRUE(l.dirty());
    EXPECT_EQ(512 + 1 + 2 * 8 + 3 * 64, l.indexAt(centre(l, 9, 2, 3), 1));
    EXPECT_EQ(right, fine->neighbour(1, 0, 0));  // tables of others still reach it

    // The shell grows around the new fine tile: 9 new coarse tiles at x = 2.
    l.updateNeighbours(true);
    EXPECT_EQ(36, l.coarseCount());
    EXPECT_EQ(fine, right->neighbour(-1, 0, 0));
    EXPECT_TRUE(right->neighbour(1, 1, 1)->isCoarse());
}

TEST(TileLayout, PositionOfGivesSamplePoints) {
    zt::tile_layout3 l(0.5f, 8);
    l.addTile(0, 0, 0, false);
    l.addTile(-1, 2, 0, false);
    l.updateNeighbours(true);
    EXPECT_EQ(v3(0, 0, 0), l.positionOf(0, 0));
    EXPECT_EQ(v3(0.25f, 0.25f, 0.25f), l.positionOf(0, 1));
    EXPECT_EQ(v3(0.5f, 0.25f, 0.25f), l.positionOf(0, 2));
    EXPECT_EQ(v3(0.25f, 0.5f, 0.25f), l.positionOf(0, 3));
    EXPECT_EQ(v3(0.25f, 0.25f, 0.5f), l.positionOf(0, 4));
    EXPECT_EQ(v3(3.5f, 3.0f, 2.5f), l.positionOf(7 + 6 * 8 + 5 * 64, 0));
    // Tile (-1, 2, 0): origin (-8, 16, 0); local (1, 2, 3).
    EXPECT_EQ(v3(-3.5f, 9.0f, 1.5f), l.positionOf(512 + 1 + 2 * 8 + 3 * 64, 0));
    // A coarse index names the tile's middle voxel: tile (1, 0, 0), voxel (12, 4, 4).
    const int64_t s = l.findTile(1, 0, 0)->offset();
    EXPECT_EQ(v3(6.25f, 2.25f, 2.25f), l.positionOf(-s, 1));

    // Every fine voxel maps back to its own index, for every sample set.
    for (int set = 0; set < 5; ++set)
        for (int64_t i = 0; i < l.fineVoxelCount(); ++i) {
            const zt::vec3f p = l.positionOf(i, set);
            const zt::vec3f inside = v3(p[0] + 0.1f, p[1] + 0.1f, p[2] + 0.1f);
            ASSERT_EQ(i, l.indexAt(inside, set)) << "set " << set;
        }
}

TEST(TileLayout, PositionOfAndSampleSetsRefuseWhatTheLayoutDoesNotHold) {
    zt::tile_layout3 l(1.0f, 4);
    l.addTile(0, 0, 0, false);
    l.appendEmptyFineSlot();
    l.updateNeighbours(true);
    EXPECT_EQ("Voxel index 64 is not in the tile layout", errorOf([&] { l.positionOf(64, 1); }));
    EXPECT_EQ("Voxel index 128 is not in the tile layout", errorOf([&] { l.positionOf(128, 1); }));
    EXPECT_EQ("Voxel index -27 is not in the tile layout", errorOf([&] { l.positionOf(-27, 1); }));
    EXPECT_EQ("", errorOf([&] { l.positionOf(-26, 1); }));
    EXPECT_EQ("Voxel index -9223372036854775808 is not in the tile layout",
              errorOf([&] { l.positionOf(INT64_MIN, 1); }));
    EXPECT_EQ("Invalid sample set 5", errorOf([&] { l.positionOf(0, 5); }));
    EXPECT_EQ("Invalid sample set -1", errorOf([&] { l.indexAt(v3(0, 0, 0), -1); }));
}

TEST(TileLayout, NegativePositionsFloorIntoTheTileBelow) {
    zt::tile_layout3 l(1.0f, 8);
    l.addTile(-1, 0, 0, false);
    zt::vec3i v;
    zt::vec3f f;
    ASSERT_TRUE(l.voxelAt(v3(-0.5f, 0.0f, 0.0f), 0, v, &f));
    EXPECT_EQ(zt::vec3i({-1, 0, 0}), v);
    EXPECT_EQ(v3(0.5f, 0.0f, 0.0f), f);
    EXPECT_EQ(zt::vec3i({-1, 0, 0}), l.tileOfVoxel(v));
    EXPECT_EQ(7, l.indexAt(v3(-0.5f, 0.0f, 0.0f), 0));  // local x = 7
    EXPECT_EQ(0, l.indexAt(v3(-8.0f, 0.0f, 0.0f), 0));  // tile's low face
    EXPECT_EQ(-1, l.indexAt(v3(-8.5f, 0.0f, 0.0f), 0));  // tile -2
    EXPECT_EQ(-1, l.indexAt(v3(0.0f, 0.0f, 0.0f), 0));   // tile 0
    EXPECT_EQ(-2, zt::tile_layout3::floorDiv(-9, 8));
    EXPECT_EQ(-1, zt::tile_layout3::floorDiv(-8, 8));
    EXPECT_EQ(-1, zt::tile_layout3::floorDiv(-1, 8));
    EXPECT_EQ(0, zt::tile_layout3::floorDiv(7, 8));
    EXPECT_EQ(INT_MIN, zt::tile_layout3::floorDiv(INT_MIN, 1));

    // Positions beyond the voxel range, and NaN, are in no tile.
    EXPECT_FALSE(l.voxelAt(v3(3e9f, 0, 0), 0, v));
    EXPECT_FALSE(l.voxelAt(v3(0, -3e9f, 0), 0, v));
    EXPECT_FALSE(l.voxelAt(v3(0, 0, std::nanf("")), 0, v));
    EXPECT_EQ(-1, l.indexAt(v3(std::nanf(""), 0, 0), 0));
}

TEST(TileLayout, ThousandsOfTilesAreFoundAndResetRemovesThem) {
    zt::tile_layout3 l(1.0f, 4);
    int n = 0;
    for (int k = -10; k < 10; ++k)
        for (int j = -10; j < 10; ++j)
            for (int i = -10; i < 10; ++i, ++n) ASSERT_EQ(n, l.addTile(i, j, k, false)->offset() / 64);
    EXPECT_EQ(8000, l.tileCount());
    n = 0;
    for (int k = -10; k < 10; ++k)
        for (int j = -10; j < 10; ++j)
            for (int i = -10; i < 10; ++i, ++n) {
                const zt::tile3* t = l.findTile(i, j, k);
                ASSERT_NE(nullptr, t);
                ASSERT_EQ(zt::vec3i({i, j, k}), t->coord());
                ASSERT_EQ(t, l.fineTile(n));
                // Voxel (x, y, z) = (1, 2, 3) of the tile through the map.
                ASSERT_EQ(int64_t(n) * 64 + 1 + 8 + 48, l.indexAt(centre(l, 4 * i + 1, 4 * j + 2, 4 * k + 3), 1));
            }
    EXPECT_EQ(nullptr, l.findTile(10, 0, 0));
    l.updateNeighbours(true);
    EXPECT_EQ(22 * 22 * 22 - 8000 + 1, l.coarseCount());

    l.reset(-1.0f, -1);
    EXPECT_EQ(1.0f, l.cellSize());
    EXPECT_EQ(4u, l.tileSize());
    EXPECT_EQ(0, l.tileCount());
    EXPECT_EQ(0, l.fineCount());
    EXPECT_EQ(0, l.fineVoxelCount());
    EXPECT_EQ(1, l.coarseCount());
    EXPECT_TRUE(l.dirty());
    EXPECT_EQ(nullptr, l.findTile(0, 0, 0));
    EXPECT_EQ(nullptr, l.findTile(-10, -10, -10));
    EXPECT_EQ(-1, l.indexAt(v3(0.5f, 0.5f, 0.5f), 1));

    l.reset(2.0f, 16);
    EXPECT_EQ(0.5f, l.invCellSize());
    EXPECT_EQ(4096u, l.voxelsPerTile());
    EXPECT_EQ(v3(1.0f, 1.0f, 2.0f), l.sampleOffset(4));
    l.addTile(0, 0, 0, false);
    EXPECT_EQ(1 + 16, l.indexAt(v3(3.0f, 3.0f, 1.0f), 0));
}

TEST(TileLayout, BadGeometryIsRefusedWithoutHarm) {
    EXPECT_EQ("Invalid tile-layout cell size 0", errorOf([] { zt::tile_layout3(0.0f, 8); }));
    EXPECT_EQ("Invalid tile-layout cell size nan", errorOf([] { zt::tile_layout3(std::nanf(""), 8); }));
    EXPECT_EQ("Invalid tile-layout cell size inf", errorOf([] { zt::tile_layout3(INFINITY, 8); }));
    EXPECT_EQ("Invalid tile-layout tile size 0", errorOf([] { zt::tile_layout3(1.0f, 0); }));
    EXPECT_EQ("Invalid tile-layout tile size 257", errorOf([] { zt::tile_layout3(1.0f, 257); }));
    EXPECT_EQ("Invalid tile-layout tile size 4294967295", errorOf([] { zt::tile_layout3(1.0f, 0xFFFFFFFFu); }));
    EXPECT_EQ("", errorOf([] { zt::tile_layout3(1.0f, 256); }));

    zt::tile_layout3 l(1.0f, 4);
    l.addTile(0, 0, 0, false);
    EXPECT_EQ("Invalid tile-layout tile size 0", errorOf([&] { l.reset(2.0f, 0); }));
    EXPECT_EQ("Invalid tile-layout cell size 0", errorOf([&] { l.reset(0.0f, 8); }));
    EXPECT_EQ(1, l.tileCount());  // untouched
    EXPECT_EQ(1.0f, l.cellSize());
}

TEST(TileLayout, CoordinatesStayInsideTheVoxelRange) {
    zt::tile_layout3 l(1.0f, 8);
    const int limit = INT_MAX / 8 - 2;  // the neighbours' voxels must fit too
    zt::tile3* edge = l.addTile(limit, -limit, 0, false);
    EXPECT_EQ(zt::vec3i({8 * limit, -8 * limit, 0}), edge->origin());
    l.updateNeighbours(true);
    EXPECT_NE(nullptr, l.findTile(limit + 1, -limit - 1, 1));
    // Promoting a shell tile past the limit would put its own neighbours outside.
    EXPECT_EQ("Tile coordinates out of range: (268435454, -268435453, 0)",
              errorOf([&] { l.addTile(limit + 1, -limit, 0, false); }));
    EXPECT_EQ("Tile coordinates out of range: (0, -2147483648, 0)",
              errorOf([&] { l.addTile(0, INT_MIN, 0, false); }));
    EXPECT_EQ("Tile coordinates out of range: (0, 0, 268435455)",
              errorOf([&] { l.addCoarseTile(0, 0, limit + 2, nullptr); }));
    EXPECT_EQ(1, l.fineCount());
    EXPECT_EQ(27, l.coarseCount());
}

TEST(TileLayout, CopyReproducesSlotsFlagsAndTablesWithItsOwnTiles) {
    zt::tile_layout3 a(0.25f, 4);
    a.addTile(0, 0, 0, false);
    a.appendEmptyFineSlot();
    a.addTile(3, 0, 0, false);
    a.updateNeighbours(true);
    a.addTile(1, 0, 0, false);  // promoted: coarse slot left empty
    a.appendEmptyCoarseSlot();
    a.updateNeighbours(true);

    zt::tile_layout3 b(a);
    EXPECT_EQ(a.cellSize(), b.cellSize());
    EXPECT_EQ(a.tileSize(), b.tileSize());
    EXPECT_EQ(a.fineVoxelCount(), b.fineVoxelCount());
    EXPECT_EQ(a.tileCount(), b.tileCount());
    EXPECT_EQ(a.dirty(), b.dirty());
    EXPECT_TRUE(b.hasEmptyFineSlots());
    EXPECT_TRUE(b.hasEmptyCoarseSlots());
    ASSERT_EQ(4, b.fineCount());
    ASSERT_EQ(a.coarseCount(), b.coarseCount());
    EXPECT_EQ(nullptr, b.fineTile(1));
    EXPECT_EQ(nullptr, b.coarseTile(b.coarseCount() - 1));

    auto same = [&](const zt::tile3* x, const zt::tile3* y) {
        if (!x) return y == nullptr;
        return y && x != y && x->coord() == y->coord() && x->level() == y->level() &&
               x->offset() == y->offset() && x->previousOffset() == y->previousOffset() &&
               y->layout() == &b;
    };
    for (int64_t s = 0; s < a.fineCount(); ++s) {
        const zt::tile3* x = a.fineTile(s);
        const zt::tile3* y = b.fineTile(s);
        ASSERT_TRUE(same(x, y)) << "fine slot " << s;
        if (!x) continue;
        for (int e = 0; e < zt::tile3::kNeighbourCount; ++e) ASSERT_TRUE(same(x->neighbour(e), y->neighbour(e)));
    }
    for (int64_t s = 0; s < a.coarseCount(); ++s) {
        ASSERT_TRUE(same(a.coarseTile(s), b.coarseTile(s))) << "coarse slot " << s;
        if (const zt::tile3* r = a.coarseTile(s) ? a.coarseTile(s)->requester() : nullptr) {
            EXPECT_TRUE(same(r, b.coarseTile(s)->requester()));
        }
    }
    EXPECT_EQ(a.fineTile(3)->previousOffset(), b.fineTile(3)->previousOffset());
    EXPECT_GE(b.fineTile(3)->previousOffset(), 1);
}

TEST(TileLayout, SettleCompactsListsLikeStorageAndRefreshesTables) {
    zt::tile_layout3 l(1.0f, 2);
    zt::tile3* a = l.addTile(0, 0, 0, false);
    l.appendEmptyFineSlot();                  // slot 1
    zt::tile3* b = l.addTile(4, 0, 0, false);  // slot 2
    l.appendEmptyFineSlot();                  // slot 3
    zt::tile3* c = l.addTile(8, 0, 0, false);  // slot 4
    l.updateNeighbours(true);
    EXPECT_EQ(79, l.coarseCount());
    zt::tile3* promoted = l.findTile(1, 0, 0);
    const int64_t freed = promoted->offset();
    l.addTile(1, 0, 0, false);  // slot 5, leaves coarse slot `freed` empty
    zt::tile3* lastCoarse = l.coarseTile(78);

    l.settle();
    // Fine, from the end: slot 3 takes the last tile (promoted), then slot 1
    // the new last one (c): [a, c, b, promoted].
    ASSERT_EQ(4, l.fineCount());
    EXPECT_EQ(a, l.fineTile(0));
    EXPECT_EQ(c, l.fineTile(1));
    EXPECT_EQ(b, l.fineTile(2));
    EXPECT_EQ(promoted, l.fineTile(3));
    EXPECT_EQ(32, l.fineVoxelCount());
    for (int64_t s = 0; s < 4; ++s) {
        EXPECT_EQ(s * 8, l.fineTile(s)->offset());
        EXPECT_EQ(s * 8 + 8, l.fineTile(s)->end());
        EXPECT_EQ(-1, l.fineTile(s)->previousOffset());
        EXPECT_EQ(s, l.blockIndex(*l.fineTile(s)));
    }
    // Coarse: the last coarse tile took the freed slot (78 slots left); then
    // the promoted tile's 9 new neighbours at x = 2 were appended.
    EXPECT_EQ(lastCoarse, l.coarseTile(freed));
    EXPECT_EQ(freed, lastCoarse->offset());
    EXPECT_EQ(-freed, l.indexAt(centre(l, lastCoarse->origin()[0], lastCoarse->origin()[1],
                                       lastCoarse->origin()[2]), 1));
    EXPECT_EQ(78 + 9, l.coarseCount());
    for (int64_t s = 1; s < l.coarseCount(); ++s) {
        ASSERT_NE(nullptr, l.coarseTile(s));
        EXPECT_EQ(s, l.coarseTile(s)->offset());
        EXPECT_EQ(-1, l.coarseTile(s)->previousOffset());
    }
    EXPECT_FALSE(l.hasEmptyFineSlots());
    EXPECT_FALSE(l.hasEmptyCoarseSlots());
    EXPECT_FALSE(l.dirty());
    EXPECT_EQ(a, promoted->neighbour(-1, 0, 0));
    EXPECT_EQ(l.findTile(2, 0, 0), promoted->neighbour(1, 0, 0));
    EXPECT_EQ(8 + 1, l.indexAt(centre(l, 17, 0, 0), 1));  // c now holds block 1

    // The writer's view: coordinates per slot, (0,0,0) for coarse slot 0.
    const zt::array1<zt::vec3i> fc = l.fineCoordinates();
    ASSERT_EQ(4, fc.count());
    EXPECT_EQ(zt::vec3i({8, 0, 0}), fc[1]);
    const zt::array1<zt::vec3i> cc = l.coarseCoordinates();
    ASSERT_EQ(l.coarseCount(), cc.count());
    EXPECT_EQ(zt::vec3i({0, 0, 0}), cc[0]);
    EXPECT_EQ(lastCoarse->coord(), cc[freed]);
}

TEST(TileLayout, TileLockSerialisesWritersFromManyThreads) {
    zt::tile_layout3 l(1.0f, 4);
    const zt::tile3* t = l.addTile(0, 0, 0, false);
    int64_t sum = 0;
#pragma omp parallel for num_threads(4)
    for (int n = 0; n < 4000; ++n) {
        std::lock_guard<zt::omp_lock> guard(t->lock());
        sum += n;
    }
    EXPECT_EQ(int64_t(3999) * 4000 / 2, sum);
}
