// Tiled fields: sizing to a layout, following its compaction, and trilinear
// sampling through the neighbour tables. Expected blends are worked out by
// hand from the corner values and fractions.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "zt/field3.h"

namespace {

zt::vec3f v3(float x, float y, float z) { return {{x, y, z}}; }

// Index of global voxel (x, y, z) of a layout with cell size 1.
int64_t voxel(const zt::tile_layout3& l, int x, int y, int z) {
    return l.indexAt(v3(float(x) + 0.5f, float(y) + 0.5f, float(z) + 0.5f), 0);
}

}  // namespace

TEST(Field3, ResizeFollowsTheLayoutWithBackgroundFill) {
    zt::tile_layout3 l(1.0f, 4);
    l.addTile(0, 0, 0, false);
    l.updateNeighbours(true);
    zt::field3<float> f(100.0f, 1);
    EXPECT_EQ(1, f.sampleSet());
    EXPECT_EQ(100.0f, f.background());
    f.resize(l);
    ASSERT_EQ(64, f.fineValues().count());
    ASSERT_EQ(27, f.coarseValues().count());
    for (float v : f.fineValues()) ASSERT_EQ(100.0f, v);
    for (float v : f.coarseValues()) ASSERT_EQ(100.0f, v);
    f.at(5) = 1.0f;
    f.at(-3) = 2.0f;
    EXPECT_EQ(1.0f, f.fineValues()[5]);
    EXPECT_EQ(2.0f, f.coarseValues()[3]);

    l.addTile(1, 0, 0, false);
    f.resize(l);
    EXPECT_EQ(128, f.fineValues().count());
    EXPECT_EQ(1.0f, f.at(5));
    EXPECT_EQ(100.0f, f.at(64));
    EXPECT_EQ(100.0f, f.at(127));
    EXPECT_TRUE(f.contains(127));
    EXPECT_FALSE(f.contains(128));
    EXPECT_TRUE(f.contains(-26));
    EXPECT_FALSE(f.contains(-27));
    EXPECT_FALSE(f.contains(INT64_MIN));

    f.fill(-4.0f);
    EXPECT_EQ(-4.0f, f.at(127));
    EXPECT_EQ(-4.0f, f.at(-26));
}

TEST(Field3, CompactMovesTheLastTilesValuesIntoEmptySlots) {
    zt::tile_layout3 l(1.0f, 2);
    l.addTile(0, 0, 0, false);  // fine slot 0
    l.appendEmptyFineSlot();    // fine slot 1
    l.addTile(4, 0, 0, false);  // fine slot 2
    l.updateNeighbours(true);   // two separate shells: coarse slots 1..52
    ASSERT_EQ(53, l.coarseCount());

    zt::field3<int> f(-1, 0);
    f.resize(l);
    for (int x = 0; x < 8; ++x) {
        f.at(x) = 10 + x;
        f.at(8 + x) = 20 + x;  // values of the empty slot
        f.at(16 + x) = 30 + x;
    }
    for (int64_t s = 1; s < 53; ++s) f.at(-s) = int(1000 + s);

    const zt::tile3* moving = l.findTile(1, 0, 0);
    const int64_t freed = moving->offset();
    l.addTile(1, 0, 0, false);  // fine slot 3; coarse slot `freed` emptied
    f.resize(l);
    EXPECT_EQ(-1, f.at(24));
    for (int x = 0; x < 8; ++x) f.at(24 + x) = 40 + x;

    f.compact(l);
    ASSERT_EQ(24, f.fineValues().count());
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(10 + x, f.at(x));
        EXPECT_EQ(40 + x, f.at(8 + x));  // the last tile's block took the empty slot
        EXPECT_EQ(30 + x, f.at(16 + x));
    }
    ASSERT_EQ(52, f.coarseValues().count());
    EXPECT_EQ(1052, f.at(-freed));
    EXPECT_EQ(1051, f.at(-51));

    // Until the layout settles, compacting again must not move anything.
    f.compact(l);
    EXPECT_EQ(24, f.fineValues().count());
    EXPECT_EQ(40, f.at(8));
    EXPECT_EQ(52, f.coarseValues().count());

    // The layout compacts the same way, so indices meet the moved values.
    const zt::tile3* lastCoarse = l.coarseTile(52);
    l.settle();
    f.resize(l);
    EXPECT_EQ(24, f.fineValues().count());
    EXPECT_EQ(61, f.coarseValues().count());  // 9 new shell tiles at x = 2
    EXPECT_EQ(10 + 1 + 4, f.at(voxel(l, 1, 0, 1)));
    EXPECT_EQ(40 + 1 + 4, f.at(voxel(l, 3, 0, 1)));
    EXPECT_EQ(30 + 1 + 2 + 4, f.at(voxel(l, 9, 1, 1)));
    EXPECT_EQ(-freed, voxel(l, lastCoarse->origin()[0], lastCoarse->origin()[1], lastCoarse->origin()[2]));
    EXPECT_EQ(1052, f.at(-freed));
    EXPECT_EQ(-1, f.at(-60));
}

TEST(Field3, CompactKeepsCoarseSlotZero) {
    zt::tile_layout3 l(1.0f, 2);
    l.appendEmptyCoarseSlot();
    l.appendEmptyCoarseSlot();
    zt::field3<float> f(3.0f);
    f.resize(l);
    ASSERT_EQ(3, f.coarseValues().count());
    f.compact(l);
    EXPECT_EQ(1, f.coarseValues().count());
    EXPECT_EQ(3.0f, f.coarseValues()[0]);
}

TEST(Field3, SampleOnASamplePointReturnsThatVoxel) {
    zt::tile_layout3 l(0.5f, 4);
    l.addTile(0, 0, 0, false);
    l.addTile(1, 0, 0, false);
    l.updateNeighbours(true);
    zt::field3<float> f(-7.0f, 1);
    f.resize(l);
    for (int64_t i = 0; i < 128; ++i) f.at(i) = 0.5f * float(i) + 1.0f;
    for (int64_t i = 0; i < 128; ++i) {
        float value = 0.0f;
        ASSERT_TRUE(f.sample(l.positionOf(i, 1), l, value));
        ASSERT_EQ(f.at(i), value) << i;
    }
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

TEST_F(OneTile, SampleBetweenVoxelsBlendsTrilinearly) {
    const zt::vec3f p = v3(1.25f, 2.5f, 0.75f);  // base voxel (1, 2, 0), fractions (0.25, 0.5, 0.75)

    // A linear function is reproduced: 1 + 0.25 + 2 * 0.5 + 4 * 0.75.
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a) f.at(voxel(l, 1 + a, 2 + b, c)) = float(1 + a + 2 * b + 4 * c);
    EXPECT_EQ(5.25f, f.sample(p, l));

    // One corner alone: 8 * 0.25 * 0.5 * 0.75.
    f.fill(0.0f);
    f.at(voxel(l, 2, 3, 1)) = 8.0f;
    EXPECT_EQ(0.75f, f.sample(p, l));
    f.fill(0.0f);
    f.at(voxel(l, 1, 2, 0)) = 8.0f;  // 8 * 0.75 * 0.5 * 0.25
    EXPECT_EQ(0.75f, f.sample(p, l));
    f.fill(0.0f);
    f.at(voxel(l, 2, 2, 0)) = 8.0f;  // 8 * 0.25 * 0.5 * 0.25
    EXPECT_EQ(0.25f, f.sample(p, l));
}

TEST(Field3, SampleCrossesTileBoundariesThroughTheNeighbourTable) {
    zt::tile_layout3 l(1.0f, 4);
    l.addTile(0, 0, 0, false);
    l.addTile(1, 0, 0, false);
    zt::field3<float> f(100.0f, 0);
    f.resize(l);
    f.fill(0.0f);
    ASSERT_EQ(23, voxel(l, 3, 1, 1));
    ASSERT_EQ(84, voxel(l, 4, 1, 1));  // local (0, 1, 1) of the second tile
    f.at(23) = 10.0f;
    f.at(84) = 20.0f;
    const zt::vec3f p = v3(3.5f, 1.0f, 1.0f);
    // Before the tables are filled the right tile is out of reach: background.
    EXPECT_EQ(55.0f, f.sample(p, l));
    l.updateNeighbours(true);
    f.resize(l);
    EXPECT_EQ(15.0f, f.sample(p, l));

    // A point at the common corner of eight fine tiles: the mean of one voxel of each.
    zt::tile_layout3 cube(1.0f, 4);
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) cube.addTile(i, j, k, false);
    cube.updateNeighbours(true);
    zt::field3<float> g(100.0f, 0);
    g.resize(cube);
    float value = 1.0f;
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a) g.at(voxel(cube, 3 + a, 3 + b, 3 + c)) = value++;
    EXPECT_EQ(4.5f, g.sample(v3(3.5f, 3.5f, 3.5f), cube));  // (1 + ... + 8) / 8
}

TEST_F(OneTile, SampleNextToACoarseNeighbourBlendsTowardTheBackground) {
    f.at(voxel(l, 3, 1, 1)) = 10.0f;
    f.at(-l.findTile(1, 0, 0)->offset()) = 7.0f;  // a coarse value is not what a sample sees
    EXPECT_EQ(77.5f, f.sample(v3(3.75f, 1.0f, 1.0f), l));  // 0.25 * 10 + 0.75 * 100
}

TEST_F(OneTile, SampleWithoutAFineBaseTileKeepsTheCallersValue) {
    float value = -3.0f;
    EXPECT_FALSE(f.sample(v3(4.5f, 1.0f, 1.0f), l, value));     // coarse tile
    EXPECT_FALSE(f.sample(v3(-0.5f, 1.0f, 1.0f), l, value));    // base voxel in a coarse tile
    EXPECT_FALSE(f.sample(v3(100.0f, 1.0f, 1.0f), l, value));   // no tile
    EXPECT_FALSE(f.sample(v3(NAN, 1.0f, 1.0f), l, value));
    EXPECT_EQ(-3.0f, value);
    EXPECT_EQ(100.0f, f.sample(v3(4.5f, 1.0f, 1.0f), l));
}

TEST(Field3, SampleSetIsChecked) {
    auto message = [](auto&& f) -> std::string {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ("Invalid sample set 5", message([] { zt::field3<float> f(0.0f, 5); }));
    zt::field3<int> g(0, 4);
    EXPECT_EQ("Invalid sample set -1", message([&] { g.setSampleSet(-1); }));
    EXPECT_EQ(4, g.sampleSet());
}

TEST_F(OneTile, IntegerBlendsTruncateAndStayInRange) {
    zt::field3<int> i(0, 0);
    i.resize(l);
    i.at(voxel(l, 1, 1, 1)) = 1;
    i.at(voxel(l, 2, 1, 1)) = 2;
    EXPECT_EQ(1, i.sample(v3(1.5f, 1.0f, 1.0f), l));  // 1.5 truncated
    i.fill(INT_MAX);
    EXPECT_EQ(INT_MAX, i.sample(v3(1.3f, 1.7f, 1.1f), l));

    zt::field3<int64_t> w(0, 0);
    w.resize(l);
    const int64_t big = int64_t(1) << 40;
    w.at(voxel(l, 1, 1, 1)) = big;
    w.at(voxel(l, 2, 1, 1)) = big + 2;
    EXPECT_EQ(big + 1, w.sample(v3(1.5f, 1.0f, 1.0f), l));
    w.fill(INT64_MAX);
    EXPECT_EQ(INT64_MAX, w.sample(v3(1.3f, 1.7f, 1.1f), l));
    w.fill(INT64_MIN);
    EXPECT_EQ(INT64_MIN, w.sample(v3(1.3f, 1.7f, 1.1f), l));
}

// One workout for every element type: resize, compaction, sampling.
template <class T>
class FieldOfEveryType : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, int, int64_t, char>;
TYPED_TEST_SUITE(FieldOfEveryType, ElementTypes);

TYPED_TEST(FieldOfEveryType, ResizesCompactsAndSamples) {
    using T = TypeParam;
    zt::tile_layout3 l(1.0f, 2);
    l.addTile(0, 0, 0, false);
    l.appendEmptyFineSlot();
    l.addTile(1, 0, 0, false);
    l.updateNeighbours(true);
    zt::field3<T> f(T(9), 0);
    f.resize(l);
    ASSERT_EQ(24, f.fineValues().count());
    for (int64_t n = 0; n < 24; ++n) ASSERT_EQ(T(9), f.at(n));
    for (int64_t n = 0; n < 8; ++n) {
        f.at(n) = T(2);
        f.at(16 + n) = T(4);
    }
    f.compact(l);
    ASSERT_EQ(16, f.fineValues().count());
    EXPECT_EQ(T(4), f.at(8));
    l.settle();
    f.resize(l);
    // Halfway from the first tile's voxel 1 to the second tile's voxel 0.
    EXPECT_EQ(T(3), f.sample(v3(1.5f, 0.0f, 0.0f), l));
    T kept = T(-5);
    EXPECT_FALSE(f.sample(v3(2.5f, 2.5f, 2.5f), l, kept));
    EXPECT_EQ(T(-5), kept);
    zt::field3<T> copy(f);
    copy.at(0) = T(1);
    EXPECT_EQ(T(2), f.at(0));
}
