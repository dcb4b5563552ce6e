// Tile layouts: voxel numbering, coarse shells,
// promotion, positions, copies, settling and the refusals.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

#include "MessageOf.h"
#include "zt/field3.h"
#include "zt/tile_layout3.h"

namespace {

zt::vec3f v3(float x, float y, float z) { return {{x, y, z}}; }

// Index of global voxel (x, y, z), found at its centre.
int64_t voxel(const zt::tile_layout3& l, int x, int y, int z) {
    const float h = l.cellSize();
    return l.indexAt(v3((float(x) + 0.5f) * h, (float(y) + 0.5f) * h, (float(z) + 0.5f) * h), 1);
}

}  // namespace

TEST(TileLayout, NumberingThe26CoarseNeighboursPromotionAndPositions) {
    zt::tile_layout3 l(0.5f, 8);
    EXPECT_EQ(-1, l.indexAt(v3(0.3f, 0.3f, 0.3f), 1));
    zt::tile3* fine = l.addTile(0, 0, 0, false);
    EXPECT_EQ(0, l.indexAt(v3(0.3f, 0.3f, 0.3f), 1));    // the voxel centred at 0.25
    EXPECT_EQ(266, l.indexAt(v3(1.3f, 0.6f, 2.1f), 0));  // (2, 1, 4): x fastest
    EXPECT_EQ(-1, l.indexAt(v3(4.2f, 0.1f, 0.1f), 0));   // voxel 8 lies in tile (1,0,0)
    l.updateNeighbours(true);
    EXPECT_EQ(27, l.coarseCount());
    EXPECT_EQ(nullptr, l.coarseTile(0));
    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const zt::tile3* n = fine->neighbour(dx, dy, dz);
                ASSERT_NE(nullptr, n);
                EXPECT_EQ(l.findTile(dx, dy, dz), n);
                if (n == fine) continue;
                EXPECT_TRUE(n->isCoarse());
                EXPECT_EQ(fine, n->requester());
                EXPECT_EQ(n, l.coarseTile(n->offset()));
                for (int e = 0; e < zt::tile3::kNeighbourCount; ++e) EXPECT_EQ(nullptr, n->neighbour(e));
            }
    zt::tile3* right = l.findTile(1, 0, 0);
    const int64_t s = right->offset();
    EXPECT_EQ(s, l.blockIndex(*right));  // coarse slot + fine count - 1
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 8; ++y)
            for (int x = 8; x < 16; ++x) ASSERT_EQ(-s, voxel(l, x, y, z));

    // Promotion: the same object takes the next fine block and leaves its coarse slot empty.
    EXPECT_EQ(right, l.addTile(1, 0, 0, false));
    EXPECT_EQ(fine, l.addTile(0, 0, 0, false));  // an existing fine tile is returned as is
    EXPECT_EQ(512, right->offset());
    EXPECT_EQ(s, right->previousOffset());
    EXPECT_EQ(27, l.coarseCount());
    EXPECT_EQ(nullptr, l.coarseTile(s));
    EXPECT_TRUE(l.hasEmptyCoarseSlots() && l.dirty());
    EXPECT_EQ(512 + 3 + 7 * 8 + 5 * 64, voxel(l, 11, 7, 5));
    EXPECT_EQ(right, fine->neighbour(1, 0, 0));  // tables of others still reach it
    l.updateNeighbours(true);
    EXPECT_EQ(36, l.coarseCount());  // 9 new shell tiles at x = 2
    EXPECT_EQ(fine, right->neighbour(-1, 0, 0));
    zt::tile3* far = l.addTile(5, 5, 5, true);  // fills its own table at once
    EXPECT_EQ(l.findTile(4, 4, 6), far->neighbour(-1, -1, 1));

    // Positions: sample points of every set, the middle voxel of a coarse
    // tile, and the inverse of indexAt for every fine voxel.
    const zt::vec3f offsets[5] = {v3(0, 0, 0), v3(0.25f, 0.25f, 0.25f), v3(0.5f, 0.25f, 0.25f),
                                  v3(0.25f, 0.5f, 0.25f), v3(0.25f, 0.25f, 0.5f)};
    for (int set = 0; set < 5; ++set) EXPECT_EQ(offsets[set], l.positionOf(0, set));
    EXPECT_EQ(v3(4.5f, 1.0f, 1.5f), l.positionOf(512 + 1 + 2 * 8 + 3 * 64, 0));
    EXPECT_EQ(v3(-1.75f, 2.25f, 2.25f), l.positionOf(-l.findTile(-1, 0, 0)->offset(), 1));  // voxel (-4, 4, 4)
    for (int set = 0; set < 5; ++set)
        for (int64_t i = 0; i < l.fineVoxelCount(); ++i) {
            const zt::vec3f p = l.positionOf(i, set);
            ASSERT_EQ(i, l.indexAt(v3(p[0] + 0.1f, p[1] + 0.1f, p[2] + 0.1f), set)) << "set " << set;
        }
}

TEST(TileLayout, NegativePositionsFloorIntoTheTileBelowAndFarOnesIntoNone) {
    zt::tile_layout3 l(1.0f, 8);
    l.addTile(-1, 0, 0, false);
    zt::vec3i v;
    zt::vec3f f;
    ASSERT_TRUE(l.voxelAt(v3(-0.5f, 0.0f, 0.0f), 0, v, &f));
    EXPECT_EQ(zt::vec3i({-1, 0, 0}), v);
    EXPECT_EQ(v3(0.5f, 0.0f, 0.0f), f);
    EXPECT_EQ(7, l.indexAt(v3(-0.5f, 0.0f, 0.0f), 0));
    EXPECT_EQ(0, l.indexAt(v3(-8.0f, 0.0f, 0.0f), 0));   // the tile's low face
    EXPECT_EQ(-1, l.indexAt(v3(-8.5f, 0.0f, 0.0f), 0));  // tile -2
    EXPECT_EQ(zt::vec3i({-2, -1, 0}), l.tileOfVoxel({{-9, -8, 7}}));
    for (const zt::vec3f& far : {v3(3e9f, 0, 0), v3(0, -3e9f, 0), v3(0, 0, NAN)}) EXPECT_FALSE(l.voxelAt(far, 0, v));
}

TEST(TileLayout, RefusalsNameTheValueAndChangeNothing) {
    zt::tile_layout3 l(1.0f, 4);
    l.addTile(0, 0, 0, false);
    l.appendEmptyFineSlot();
    l.updateNeighbours(true);
    zt::tile_layout3 edge(1.0f, 8);
    const int limit = INT_MAX / 8 - 2;  // the neighbours' voxels must fit too
    edge.addTile(limit, -limit, 0, false);
    edge.updateNeighbours(true);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { l.positionOf(64, 1); }, "Voxel index 64 is not in the tile layout"},  // an empty slot
        {[&] { l.positionOf(-27, 1); }, "Voxel index -27 is not in the tile layout"},
        {[&] { l.positionOf(-26, 1); }, "(no failure)"},
        {[&] { l.positionOf(INT64_MIN, 1); }, "Voxel index -9223372036854775808 is not in the tile layout"},
        {[&] { l.positionOf(0, 5); }, "Invalid sample set 5"},
        {[&] { l.indexAt(v3(0, 0, 0), -1); }, "Invalid sample set -1"},
        {[] { zt::field3<int> f(0, 5); }, "Invalid sample set 5"},
        {[] { zt::tile_layout3(NAN, 8); }, "Invalid tile-layout cell size nan"},
        {[] { zt::tile_layout3(1.0f, 257); }, "Invalid tile-layout tile size 257"},
        {[] { zt::tile_layout3(1.0f, 256); }, "(no failure)"},
        {[&] { l.reset(2.0f, 0); }, "Invalid tile-layout tile size 0"},
        // Promoting a shell tile past the limit would put its own neighbours outside.
        {[&] { edge.addTile(limit + 1, -limit, 0, false); }, "Tile coordinates out of range: (268435454, -268435453, 0)"},
        {[&] { edge.addTile(0, INT_MIN, 0, false); }, "Tile coordinates out of range: (0, -2147483648, 0)"},
    };
    for (const auto& [action, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, testsupport::messageOf(action));
    }
    EXPECT_EQ(1.0f, l.cellSize());
    EXPECT_EQ(2, l.fineCount());
    EXPECT_EQ(27, edge.coarseCount());
}

TEST(TileLayout, ThousandsOfTilesAreFoundAndResetEmptiesTheLayout) {
    zt::tile_layout3 l(1.0f, 4);
    for (int pass = 0; pass < 2; ++pass) {  // adding, then finding through the map
        int n = 0;
        for (int k = -10; k < 10; ++k)
            for (int j = -10; j < 10; ++j)
                for (int i = -10; i < 10; ++i, ++n)
                    if (pass == 0)
                        l.addTile(i, j, k, false);
                    else
                        ASSERT_EQ(int64_t(n) * 64 + 1 + 8 + 48, voxel(l, 4 * i + 1, 4 * j + 2, 4 * k + 3));
    }
    l.updateNeighbours(true);
    EXPECT_EQ(22 * 22 * 22 - 8000 + 1, l.coarseCount());
    l.reset(-1.0f, -1);  // keeps the geometry
    EXPECT_EQ(4u, l.tileSize());
    EXPECT_EQ(0, l.tileCount() + l.fineVoxelCount());
    EXPECT_EQ(1, l.coarseCount());
}

TEST(TileLayout, CopiesHaveTheirOwnTilesAndSettleCompactsListsFromTheEnd) {
    zt::tile_layout3 l(1.0f, 2);
    zt::tile3* a = l.addTile(0, 0, 0, false);
    l.appendEmptyFineSlot();                   // slot 1
    zt::tile3* b = l.addTile(4, 0, 0, false);  // slot 2
    l.appendEmptyFineSlot();                   // slot 3
    zt::tile3* c = l.addTile(8, 0, 0, false);  // slot 4
    l.updateNeighbours(true);
    ASSERT_EQ(79, l.coarseCount());
    zt::tile3* promoted = l.findTile(1, 0, 0);
    const int64_t freed = promoted->offset();
    l.addTile(1, 0, 0, false);  // slot 5, leaves coarse slot `freed` empty
    zt::tile3* lastCoarse = l.coarseTile(78);

    const zt::tile_layout3 copy(l);
    auto same = [&](const zt::tile3* x, const zt::tile3* y) {
        if (!x) return y == nullptr;
        return y && x != y && x->coord() == y->coord() && x->level() == y->level() && x->offset() == y->offset() &&
               x->previousOffset() == y->previousOffset() && y->layout() == &copy;
    };
    ASSERT_EQ(79, copy.coarseCount());
    for (int64_t s = 0; s < 6; ++s) {
        ASSERT_TRUE(same(l.fineTile(s), copy.fineTile(s))) << "fine slot " << s;
        for (int e = 0; l.fineTile(s) && e < zt::tile3::kNeighbourCount; ++e)
            ASSERT_TRUE(same(l.fineTile(s)->neighbour(e), copy.fineTile(s)->neighbour(e)));
    }
    for (int64_t s = 0; s < 79; ++s) ASSERT_TRUE(same(l.coarseTile(s), copy.coarseTile(s))) << "coarse slot " << s;

    l.settle();
    // Slot 3 takes the last tile (promoted), then slot 1 the new last one (c).
    const zt::tile3* order[] = {a, c, b, promoted};
    ASSERT_EQ(4, l.fineCount());
    for (int64_t s = 0; s < 4; ++s) {
        EXPECT_EQ(order[s], l.fineTile(s));
        EXPECT_EQ(s * 8, l.fineTile(s)->offset());
        EXPECT_EQ(-1, l.fineTile(s)->previousOffset());
    }
    // The last coarse tile took the freed slot; 9 new neighbours at x = 2 were appended.
    EXPECT_EQ(lastCoarse, l.coarseTile(freed));
    EXPECT_EQ(78 + 9, l.coarseCount());
    for (int64_t s = 1; s < l.coarseCount(); ++s) ASSERT_EQ(s, l.coarseTile(s)->offset());
    EXPECT_FALSE(l.hasEmptyFineSlots() || l.hasEmptyCoarseSlots() || l.dirty());
    EXPECT_EQ(l.findTile(2, 0, 0), promoted->neighbour(1, 0, 0));
    EXPECT_EQ(8 + 1, voxel(l, 17, 0, 0));  // c now holds block 1
    EXPECT_EQ(zt::vec3i({0, 0, 0}), l.coarseCoordinates()[0]);  // what the writer stores for slot 0
}
