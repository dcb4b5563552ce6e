// The voxel kernels of the field hooks on small layouts, with every expected
// value worked out by hand: splatting with and without division, the
// extension into unreached voxels, particle distances and occluder merges.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "FieldTestSupport.h"
#include "MessageOf.h"
#include "cb/fields/FieldKernels.h"

using Cb::ParticleBlockView;
using testsupport::messageOf;

namespace {

// Index of voxel (x, y, z) of a layout with cell size 1.
int64_t voxel(const zt::tile_layout3& layout, int x, int y, int z) {
    return layout.indexAt({float(x) + 0.5f, float(y) + 0.5f, float(z) + 0.5f}, 0);
}

template <class T>
zt::field3<T> sizedField(const zt::tile_layout3& layout, T background, int sampleSet = 0) {
    zt::field3<T> field(background, sampleSet);
    field.resize(layout);
    return field;
}

constexpr float kFloor = Cb::kSplatWeightFloor;

}  // namespace

TEST(SplatKernel, TwoParticlesSpreadTrilinearlyAndDivideByTheirWeights) {
    auto layout = fieldtest::twoTileLayout(2);
    const std::vector<zt::vec3f> positions = {{0.25f, 0.5f, 0.0f}, {0.75f, 0.5f, 0.0f}};
    const std::vector<float> values = {2.0f, 4.0f};
    const ParticleBlockView block{positions, values.data(), 1, {}};
    for (const bool divide : {false, true}) {
        SCOPED_TRACE(divide);
        auto value = sizedField(*layout, -1.0f);
        value.fill(0.0f);
        auto weight = sizedField(*layout, 0.0f);
        auto reached = sizedField<int64_t>(*layout, 0);
        zt::field3<float>* fields[] = {&value};
        Cb::splatParticles(*layout, {&block, 1}, 1.0f, fields, weight);
        Cb::finishSplat(fields, weight, reached, divide);

        // Fractions (0.25, 0.5, 0) and (0.75, 0.5, 0): on the z = 0 corners the
        // weights are 0.75 * 0.5 or 0.25 * 0.5, on the z = 1 corners 0.
        const float w00 = 0.375f + kFloor, w01 = 0.125f + kFloor;  // particle 1 at x = 0 / x = 1
        const float w10 = 0.125f + kFloor, w11 = 0.375f + kFloor;  // particle 2
        const int64_t x0 = voxel(*layout, 0, 0, 0), x1 = voxel(*layout, 1, 1, 0), top = voxel(*layout, 1, 0, 1);
        EXPECT_FLOAT_EQ(w00 + w10, weight.at(x0));
        EXPECT_FLOAT_EQ(w01 + w11, weight.at(x1));
        EXPECT_FLOAT_EQ(2 * kFloor, weight.at(top));
        const float sum0 = w00 * 2 + w10 * 4, sum1 = w01 * 2 + w11 * 4, sumTop = kFloor * 2 + kFloor * 4;
        EXPECT_FLOAT_EQ(divide ? sum0 / (w00 + w10) : sum0, value.at(x0));
        EXPECT_FLOAT_EQ(divide ? sum1 / (w01 + w11) : sum1, value.at(x1));
        EXPECT_FLOAT_EQ(divide ? 3.0f : sumTop, value.at(top));
        // Every corner is reached; the voxels beyond are not.
        EXPECT_EQ(1, reached.at(top));
        EXPECT_EQ(0, reached.at(voxel(*layout, 2, 0, 0)));
        EXPECT_EQ(0.0f, value.at(voxel(*layout, 2, 0, 0)));
    }
}

TEST(SplatKernel, CornersInCoarseTilesAccumulateInTheirSlot) {
    auto layout = fieldtest::twoTileLayout(2);
    // Base voxel (3, 0, 0) at the high face of tile (1,0,0): x + 1 lies in
    // the coarse tile (2,0,0); y + 1 and z + 1 stay in the fine tile.
    const std::vector<zt::vec3f> positions = {{3.5f, 0.0f, 0.0f}};
    const std::vector<zt::vec3f> values = {{1.0f, 2.0f, 3.0f}};
    const ParticleBlockView block{positions, &values[0][0], 3, {}};
    zt::field3<float> v[3] = {sizedField(*layout, 0.0f), sizedField(*layout, 0.0f), sizedField(*layout, 0.0f)};
    zt::field3<float>* fields[] = {&v[0], &v[1], &v[2]};
    auto weight = sizedField(*layout, 0.0f);
    auto reached = sizedField<int64_t>(*layout, 0);
    Cb::splatParticles(*layout, {&block, 1}, 1.0f, fields, weight);
    const int64_t coarse = voxel(*layout, 4, 0, 0);
    ASSERT_LT(coarse, 0);
    // Four corners at x = 4 share the coarse slot: 0.5 + 4e-6 in all.
    EXPECT_FLOAT_EQ(0.5f + 4 * kFloor, weight.at(coarse));
    EXPECT_FLOAT_EQ(0.5f + kFloor, weight.at(voxel(*layout, 3, 0, 0)));
    Cb::finishSplat(fields, weight, reached, true);
    for (int c = 0; c < 3; ++c) {
        EXPECT_FLOAT_EQ(float(c + 1), v[c].at(coarse));
        EXPECT_FLOAT_EQ(float(c + 1), v[c].at(voxel(*layout, 3, 0, 0)));
    }
    EXPECT_EQ(1, reached.at(coarse));
}

TEST(SplatKernel, SkipsDropletsAndParticlesWithoutAllCorners) {
    zt::tile_layout3 layout(1.0f, 2);
    layout.addTile(0, 0, 0, false);
    layout.addTile(5, 5, 5, true);     // a tile with its shell
    layout.updateNeighbours(false);  // clears every neighbour table
    const std::vector<zt::vec3f> positions = {
        {0.5f, 0.5f, 0.5f},     // all corners inside tile (0,0,0): splats
        {0.5f, 0.5f, 0.25f},    // a droplet: skipped
        {1.5f, 0.5f, 0.5f},     // corner x = 2 needs a neighbour table: skipped
        {-0.5f, 0.5f, 0.5f},    // base voxel in no tile: skipped
        {9.0f, 11.0f, 11.0f}};  // base voxel in a coarse tile: skipped
    const std::vector<float> values = {1, 10, 100, 1000, 10000};
    const std::vector<float> droplet = {0.5f, 2.0f, 0.0f, 0.0f, 0.0f};
    const ParticleBlockView block{positions, values.data(), 1, droplet};
    auto value = sizedField(layout, 0.0f);
    auto weight = sizedField(layout, 0.0f);
    zt::field3<float>* fields[] = {&value};
    Cb::splatParticles(layout, {&block, 1}, 1.0f, fields, weight);
    float total = 0, weights = 0;
    for (float v : value.fineValues()) total += v;
    for (float w : weight.fineValues()) weights += w;
    for (float v : value.coarseValues()) total += v;
    EXPECT_FLOAT_EQ(1.0f + 8 * kFloor, total);
    EXPECT_FLOAT_EQ(1.0f + 8 * kFloor, weights);
    EXPECT_FLOAT_EQ(0.125f + kFloor, value.at(voxel(layout, 1, 1, 1)));

    auto small = sizedField(layout, 0.0f);
    small.fineValues().resize(3);
    zt::field3<float>* wrong[] = {&small};
    EXPECT_EQ("Field kernel: splat values hold 3 fine and 27 coarse values, the layout 16 and 27",
              messageOf([&] { Cb::splatParticles(layout, {&block, 1}, 1.0f, wrong, weight); }));
}

TEST(ExtensionKernel, LayersTakeTheMeanOfEarlierFaceNeighbours) {
    zt::tile_layout3 layout(1.0f, 2);
    layout.addTile(0, 0, 0, false);
    layout.addTile(1, 0, 0, false);
    layout.addTile(5, 0, 0, false);  // connected to nothing reached
    layout.updateNeighbours(true);
    auto value = sizedField(layout, -7.0f);
    auto distance = sizedField<int64_t>(layout, 0);
    value.at(voxel(layout, 0, 0, 0)) = 8.0f;
    value.at(voxel(layout, 1, 1, 0)) = 2.0f;
    distance.at(voxel(layout, 0, 0, 0)) = 1;
    distance.at(voxel(layout, 1, 1, 0)) = 1;
    zt::field3<float>* fields[] = {&value};
    Cb::extendIntoUnreached(layout, distance, fields);

    struct Expect {
        int x, y, z;
        int64_t layer;
        float value;
    };
    // Layer 1 means over the reached voxels, layer 2 over layer-1 voxels
    // (and reached ones); (2, 1, 0) lies across the tile face.
    for (const Expect& e : {Expect{0, 0, 0, 0, 8.0f}, Expect{1, 1, 0, 0, 2.0f}, Expect{1, 0, 0, 1, 5.0f},
                            Expect{0, 1, 0, 1, 5.0f}, Expect{0, 0, 1, 1, 8.0f}, Expect{1, 1, 1, 1, 2.0f},
                            Expect{2, 1, 0, 1, 2.0f}, Expect{1, 0, 1, 2, 5.0f}, Expect{0, 1, 1, 2, 5.0f},
                            Expect{2, 0, 0, 2, 3.5f}, Expect{2, 1, 1, 2, 2.0f}, Expect{3, 1, 0, 2, 2.0f},
                            Expect{3, 0, 0, 3, 2.75f}}) {
        SCOPED_TRACE(testing::Message() << e.x << "," << e.y << "," << e.z);
        EXPECT_EQ(e.layer, distance.at(voxel(layout, e.x, e.y, e.z)));
        EXPECT_FLOAT_EQ(e.value, value.at(voxel(layout, e.x, e.y, e.z)));
    }
    for (int64_t i = voxel(layout, 10, 0, 0); i < voxel(layout, 10, 0, 0) + 8; ++i) {
        EXPECT_EQ(-1, distance.at(i));
        EXPECT_EQ(-7.0f, value.at(i));
    }
}

TEST(ExtensionKernel, NothingReachedLeavesEverythingAlone) {
    auto layout = fieldtest::twoTileLayout(2);
    auto value = sizedField(*layout, 4.0f);
    auto distance = sizedField<int64_t>(*layout, 0);
    zt::field3<float>* fields[] = {&value};
    Cb::extendIntoUnreached(*layout, distance, fields);
    for (int64_t d : distance.fineValues()) ASSERT_EQ(-1, d);
    for (float v : value.fineValues()) ASSERT_EQ(4.0f, v);
}

TEST(DistanceKernel, VoxelsNearParticlesTakeTheDistanceToTheNearestSurface) {
    zt::tile_layout3 layout(1.0f, 4);
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);
    auto distance = sizedField(layout, 100000.0f);
    const std::vector<zt::vec3f> positions = {{1.5f, 1.0f, 1.0f}, {3.0f, 3.0f, 3.0f}, {0.0f, 3.0f, 0.0f}};
    const std::vector<float> droplet = {0.0f, 0.0f, 5.0f};  // the third is a droplet
    const ParticleBlockView block{positions, nullptr, 1, droplet};
    Cb::particleDistance(layout, {&block, 1}, 1.0f, 0.5f, distance);
    // Reach 1.5 around each fluid particle; sample points at the corners.
    EXPECT_FLOAT_EQ(0.0f, distance.at(voxel(layout, 1, 1, 1)));
    EXPECT_FLOAT_EQ(0.0f, distance.at(voxel(layout, 2, 1, 1)));
    EXPECT_FLOAT_EQ(1.0f, distance.at(voxel(layout, 0, 1, 1)));  // exactly at the reach
    EXPECT_FLOAT_EQ(std::sqrt(1.25f) - 0.5f, distance.at(voxel(layout, 1, 2, 1)));
    EXPECT_FLOAT_EQ(-0.5f, distance.at(voxel(layout, 3, 3, 3)));
    // (2, 2, 2) lies exactly at the first particle's reach, beyond the second's (sqrt 3).
    EXPECT_FLOAT_EQ(1.0f, distance.at(voxel(layout, 2, 2, 2)));
    EXPECT_EQ(100000.0f, distance.at(voxel(layout, 1, 1, 3)));  // beyond the reach
    EXPECT_EQ(100000.0f, distance.at(voxel(layout, 0, 3, 0)));  // only near the droplet
}

TEST(DistanceKernel, AReachBeyondTheLayoutStaysInsideIt) {
    auto layout = fieldtest::twoTileLayout(2);
    auto distance = sizedField(*layout, 100000.0f);
    const std::vector<zt::vec3f> positions = {{1.0f, 1.0f, 1.0f}, {1e30f, 0.0f, 0.0f}};
    const ParticleBlockView block{positions, nullptr, 1, {}};
    Cb::particleDistance(*layout, {&block, 1}, 1.0f, 1e6f, distance);
    // Every fine voxel is within the reach: |s - p| - 1e6.
    EXPECT_FLOAT_EQ(float(2.0 - 1e6), distance.at(voxel(*layout, 3, 1, 1)));
    EXPECT_FLOAT_EQ(float(0.0 - 1e6), distance.at(voxel(*layout, 1, 1, 1)));
    EXPECT_EQ(100000.0f, distance.at(-1));  // coarse slots are not touched
}

TEST(OccluderKernel, TheNearestSolidGivesDistanceIndexAndVelocity) {
    auto layout = fieldtest::twoTileLayout(2);
    auto distance = sizedField(*layout, 100000.0f);
    auto companion = sizedField(*layout, -1);
    zt::field3<float> velocity[3] = {sizedField(*layout, 0.0f, 2), sizedField(*layout, 0.0f, 3),
                                     sizedField(*layout, 0.0f, 4)};
    zt::field3<float>* v[] = {&velocity[0], &velocity[1], &velocity[2]};

    // A plane x = 0.5 known only on tile (0,0,0), moving at 3 along x.
    zt::tile_layout3 wallLayout(1.0f, 2);
    wallLayout.addTile(0, 0, 0, true);
    auto wall = sizedField(wallLayout, 100000.0f);
    auto wallVx = sizedField(wallLayout, 3.0f, 1);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) wall.at(voxel(wallLayout, x, y, z)) = float(x) - 0.5f;
    Cb::OccluderView first{&wallLayout, &wall, {&wallVx, nullptr, nullptr}};
    Cb::mergeOccluder(*layout, distance, companion, v, 2, first);
    EXPECT_EQ(-0.5f, distance.at(voxel(*layout, 0, 1, 1)));
    EXPECT_EQ(0.5f, distance.at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(2, companion.at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(3.0f, velocity[0].at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(0.0f, velocity[1].at(voxel(*layout, 1, 0, 1)));  // the wall has no y velocity
    // Tile (1,0,0) is not fine in the wall's layout: nothing there.
    EXPECT_EQ(100000.0f, distance.at(voxel(*layout, 2, 0, 0)));
    EXPECT_EQ(-1, companion.at(voxel(*layout, 2, 0, 0)));

    // A floor at distance 0 everywhere on both tiles, at rest.
    auto floorLayout = fieldtest::twoTileLayout(2);
    auto floor = sizedField(*floorLayout, 0.0f);
    Cb::OccluderView second{floorLayout.get(), &floor, {}};
    Cb::mergeOccluder(*layout, distance, companion, v, 5, second);
    EXPECT_EQ(-0.5f, distance.at(voxel(*layout, 0, 1, 1)));  // the wall is nearer here
    EXPECT_EQ(2, companion.at(voxel(*layout, 0, 1, 1)));
    EXPECT_EQ(3.0f, velocity[0].at(voxel(*layout, 0, 1, 1)));
    EXPECT_EQ(0.0f, distance.at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(5, companion.at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(0.0f, velocity[0].at(voxel(*layout, 1, 0, 1)));
    EXPECT_EQ(5, companion.at(voxel(*layout, 2, 0, 0)));
}
