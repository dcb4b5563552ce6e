// Tiled fields: following a layout's compaction, and trilinear sampling
// through the neighbour tables. Expected blends are worked out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>

#include "zt/field3.h"

namespace {

zt::vec3f v3(float x, float y, float z) { return {{x, y, z}}; }

// Index of global voxel (x, y, z) of a layout with cell size 1.
int64_t voxel(const zt::tile_layout3& l, int x, int y, int z) {
    return l.indexAt(v3(float(x) + 0.5f, float(y) + 0.5f, float(z) + 0.5f), 0);
}

template <class T>
class FieldOfEveryType : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, int, int64_t, char>;
TYPED_TEST_SUITE(FieldOfEveryType, ElementTypes);

}  // namespace

TYPED_TEST(FieldOfEveryType, CompactMovesTheLastBlocksIntoEmptySlotsAsTheLayoutWillSettle) {
    using T = TypeParam;
    zt::tile_layout3 l(1.0f, 2);
    l.addTile(0, 0, 0, false);  // fine slot 0
    l.appendEmptyFineSlot();    // fine slot 1
    l.addTile(4, 0, 0, false);  // fine slot 2
    l.updateNeighbours(true);   // two separate shells: coarse slots 1..52
    zt::field3<T> f(T(-1), 0);
    f.resize(l);
    for (int64_t i = 0; i < 24; ++i) f.at(i) = T(i);
    for (int64_t s = 1; s < 53; ++s) f.at(-s) = T(s);
    const int64_t freed = l.findTile(1, 0, 0)->offset();
    const zt::tile3* lastCoarse = l.coarseTile(52);
    l.addTile(1, 0, 0, false);  // fine slot 3; coarse slot `freed` emptied
    f.resize(l);
    for (int64_t i = 24; i < 32; ++i) f.at(i) = T(i + 17);
    f.compact(l);
    f.compact(l);  // until the layout settles, nothing moves again
    ASSERT_EQ(24, f.fineValues().count());
    ASSERT_EQ(52, f.coarseValues().count());
    for (int64_t i = 0; i < 8; ++i) {
        EXPECT_EQ(T(i), f.at(i));
        EXPECT_EQ(T(41 + i), f.at(8 + i));  // the last tile's block took the empty slot
        EXPECT_EQ(T(16 + i), f.at(16 + i));
    }
    EXPECT_EQ(T(52), f.at(-freed));
    // The layout compacts the same way, so indices meet the moved values.
    l.settle();
    f.resize(l);
    EXPECT_EQ(61, f.coarseValues().count());  // 9 new shell tiles at x = 2
    EXPECT_EQ(T(-1), f.at(-60));
    EXPECT_EQ(-freed, voxel(l, lastCoarse->origin()[0], lastCoarse->origin()[1], lastCoarse->origin()[2]));
    EXPECT_EQ(T(21), f.sample(v3(1.5f, 0.0f, 0.0f), l));  // halfway between voxel 1 (1) and voxel 2 (41)
}

TEST(Field3, SampleOnASamplePointIsThatVoxelAndCrossesTilesThroughTheTables) {
    zt::tile_layout3 l(0.5f, 4);
    l.addTile(0, 0, 0, false);
    l.addTile(1, 0, 0, false);
    zt::field3<float> f(-7.0f, 1);
    f.resize(l);
    for (int64_t i = 0; i < 128; ++i) f.at(i) = 0.5f * float(i) + 1.0f;
    // Halfway between voxel (3,1,1) = 23 and (4,1,1) = 64 + 20 of the next tile.
    const zt::vec3f between = v3(2.0f, 0.75f, 0.75f);
    EXPECT_EQ(0.5f * 12.5f + 0.5f * -7.0f, f.sample(between, l));  // no tables yet: background
    l.updateNeighbours(true);
    f.resize(l);
    EXPECT_EQ(0.5f * 12.5f + 0.5f * 43.0f, f.sample(between, l));
    for (int64_t i = 0; i < 128; ++i) ASSERT_EQ(f.at(i), f.sample(l.positionOf(i, 1), l)) << i;
}

// One fine tile at the origin inside its coarse shell (cell size 1, N = 4),
// and a float field of background 100 whose stored values are all 0.
class OneTile : public ::testing::Test {
protected:
    OneTile() {
        l.addTile(0, 0, 0, false);
        l.updateNeighbours(true);
        f.resize(l);
        f.fill(0.0f);
    }
    zt::tile_layout3 l{1.0f, 4};
    zt::field3<float> f{100.0f, 0};
};

TEST_F(OneTile, SampleBlendsTrilinearlyAndTowardTheBackgroundNextToCoarseTiles) {
    const zt::vec3f p = v3(1.25f, 2.5f, 0.75f);  // base voxel (1, 2, 0), fractions (0.25, 0.5, 0.75)
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a) f.at(voxel(l, 1 + a, 2 + b, c)) = float(1 + a + 2 * b + 4 * c);
    EXPECT_EQ(5.25f, f.sample(p, l));  // a linear function is reproduced: 1 + 0.25 + 2 * 0.5 + 4 * 0.75
    f.fill(0.0f);
    f.at(voxel(l, 2, 2, 0)) = 8.0f;
    EXPECT_EQ(0.25f, f.sample(p, l));  // one corner alone: 8 * 0.25 * 0.5 * 0.25
    f.at(voxel(l, 3, 1, 1)) = 10.0f;
    f.at(-l.findTile(1, 0, 0)->offset()) = 7.0f;  // a coarse value is not what a sample sees
    EXPECT_EQ(77.5f, f.sample(v3(3.75f, 1.0f, 1.0f), l));  // 0.25 * 10 + 0.75 * 100
    float value = -3.0f;  // without a fine base tile the caller's value stays
    for (const zt::vec3f& q : {v3(4.5f, 1, 1), v3(-0.5f, 1, 1), v3(100, 1, 1), v3(NAN, 1, 1)})
        EXPECT_FALSE(f.sample(q, l, value));
    EXPECT_EQ(-3.0f, value);
}

TEST_F(OneTile, IntegerBlendsTruncateAndStayInRange) {
    zt::field3<int> i(0, 0);
    i.resize(l);
    i.at(voxel(l, 1, 1, 1)) = 1;
    i.at(voxel(l, 2, 1, 1)) = 2;
    EXPECT_EQ(1, i.sample(v3(1.5f, 1.0f, 1.0f), l));  // 1.5 truncated
    zt::field3<int64_t> w(0, 0);
    w.resize(l);
    const int64_t big = int64_t(1) << 40;
    w.at(voxel(l, 1, 1, 1)) = big;
    w.at(voxel(l, 2, 1, 1)) = big + 2;
    EXPECT_EQ(big + 1, w.sample(v3(1.5f, 1.0f, 1.0f), l));
    for (const int64_t extreme : {INT64_MAX, INT64_MIN}) {
        w.fill(extreme);
        EXPECT_EQ(extreme, w.sample(v3(1.3f, 1.7f, 1.1f), l));
    }
}
