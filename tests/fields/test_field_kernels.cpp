// The voxel kernels of the field hooks on small layouts, with every expected
// value worked out by hand: skipped particles, the layered extension into
// unreached voxels, and a particle reach larger than the layout; and a splat
// that gives the same bits on any team. The hooks' tests splat and measure
// distances on bodies.
#include <tuple>

#include "FieldTestSupport.h"
#include "ScopedThreads.h"
#include "cb/fields/FieldKernels.h"

using Cb::ParticleBlockView;
using namespace fieldtest;

TEST(SplatKernel, SkipsParticlesWithoutAllCornersAndRefusesMisfitFields) {
    zt::tile_layout3 layout(1.0f, 2);
    layout.addTile(0, 0, 0, false);
    layout.addTile(5, 5, 5, true);   // a tile with its shell
    layout.updateNeighbours(false);  // clears every neighbour table
    const std::vector<zt::vec3f> positions = {
        {0.5f, 0.5f, 0.5f},     // all corners inside tile (0,0,0): splats
        {1.5f, 0.5f, 0.5f},     // corner x = 2 needs a neighbour table: skipped
        {-0.5f, 0.5f, 0.5f},    // base voxel in no tile: skipped
        {9.0f, 11.0f, 11.0f}};  // base voxel in a coarse tile: skipped
    const std::vector<float> values = {1, 100, 1000, 10000};
    const ParticleBlockView block{positions, values.data(), 1, {}};
    auto value = sizedField(layout, 0.0f);
    auto weight = sizedField(layout, 0.0f);
    zt::field3<float>* fields[] = {&value};
    Cb::splatParticles(layout, {&block, 1}, 1.0f, fields, weight);
    float total = 0;
    for (float v : value.fineValues()) total += v;
    for (float v : value.coarseValues()) total += v;
    EXPECT_FLOAT_EQ(1.0f + 8 * Cb::kSplatWeightFloor, total);
    EXPECT_FLOAT_EQ(0.125f + Cb::kSplatWeightFloor, value.at(voxel(layout, 1, 1, 1)));

    value.fineValues().resize(3);
    EXPECT_EQ("Field kernel: splat values hold 3 fine and 27 coarse values, the layout 16 and 27",
              messageOf([&] { Cb::splatParticles(layout, {&block, 1}, 1.0f, fields, weight); }));
}

// Float sums into shared voxels depend on the order the blocks come in: the
// splat's team follows the library thread count (1 here), not the machine.
TEST(SplatKernel, TheSameParticlesSplatTheSameBitsOnAnyTeam) {
    zt::tile_layout3 layout(1.0f, 4);
    layout.addTile(0, 0, 0, true);
    constexpr int kBlocks = 64, kPerBlock = 2000;
    const std::vector<zt::vec3f> positions(kPerBlock, zt::vec3f{1.3f, 1.6f, 1.2f});
    std::vector<std::vector<float>> values(kBlocks);
    std::vector<ParticleBlockView> blocks;
    for (int b = 0; b < kBlocks; ++b) {
        for (int k = 0; k < kPerBlock; ++k) values[size_t(b)].push_back(0.37f * float((b * 7919 + k * 104729) % 1000003));
        blocks.push_back({positions, values[size_t(b)].data(), 1, {}});
    }
    std::vector<float> first;
    // Several tries: a team whose other workers wake late may leave all
    // blocks to one of them.
    for (int team : {1, 2, 4, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        testsupport::ScopedThreads scope(team);
        auto value = sizedField(layout, 0.0f);
        auto weight = sizedField(layout, 0.0f);
        zt::field3<float>* fields[] = {&value};
        Cb::splatParticles(layout, blocks, 1.0f, fields, weight);
        std::vector<float> got(value.fineValues().begin(), value.fineValues().end());
        got.insert(got.end(), weight.fineValues().begin(), weight.fineValues().end());
        if (first.empty()) first = got;
        EXPECT_TRUE(first == got) << "the splat differs from one worker's";
    }
}

TEST(ExtensionKernel, LayersTakeTheMeanOfEarlierFaceNeighbours) {
    auto layout = twoTileLayout(2);
    layout->addTile(5, 0, 0, false);  // connected to nothing reached
    layout->updateNeighbours(true);
    auto value = sizedField(*layout, -7.0f);
    auto distance = sizedField<int64_t>(*layout, 0);
    value.at(voxel(*layout, 0, 0, 0)) = 8.0f;
    value.at(voxel(*layout, 1, 1, 0)) = 2.0f;
    distance.at(voxel(*layout, 0, 0, 0)) = 1;
    distance.at(voxel(*layout, 1, 1, 0)) = 1;
    zt::field3<float>* fields[] = {&value};
    Cb::extendIntoUnreached(*layout, distance, fields);
    // Voxel, layer, value: layer 1 means over the reached voxels, layer 2
    // over layer-1 voxels; (2, 1, 0) lies across the tile face.
    using Expect = std::tuple<int, int, int, int64_t, float>;
    for (const auto& [x, y, z, layer, mean] :
         {Expect{0, 0, 0, 0, 8.0f}, Expect{1, 0, 0, 1, 5.0f}, Expect{0, 0, 1, 1, 8.0f}, Expect{2, 1, 0, 1, 2.0f},
          Expect{2, 0, 0, 2, 3.5f}, Expect{3, 0, 0, 3, 2.75f}, Expect{10, 0, 0, -1, -7.0f}}) {
        SCOPED_TRACE(testing::Message() << x << "," << y << "," << z);
        EXPECT_EQ(layer, distance.at(voxel(*layout, x, y, z)));
        EXPECT_FLOAT_EQ(mean, value.at(voxel(*layout, x, y, z)));
    }
}

TEST(DistanceKernel, AReachBeyondTheLayoutStaysInsideIt) {
    auto layout = twoTileLayout(2);
    auto distance = sizedField(*layout, 100000.0f);
    const std::vector<zt::vec3f> positions = {{1.0f, 1.0f, 1.0f}, {1e30f, 0.0f, 0.0f}};
    const ParticleBlockView block{positions, nullptr, 1, {}};
    Cb::particleDistance(*layout, {&block, 1}, 1.0f, 1e6f, distance);
    // Every fine voxel is within the reach: |s - p| - 1e6.
    EXPECT_FLOAT_EQ(float(2.0 - 1e6), distance.at(voxel(*layout, 3, 1, 1)));
    EXPECT_FLOAT_EQ(float(0.0 - 1e6), distance.at(voxel(*layout, 1, 1, 1)));
    EXPECT_EQ(100000.0f, distance.at(-1));  // coarse slots are not touched
}
