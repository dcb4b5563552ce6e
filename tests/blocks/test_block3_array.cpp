// Block arrays in memory: numbering, mirroring, compaction, layout updates,
// erase lists, statistics partials, reblocking and building layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "BlockTestSupport.h"
#include "MessageOf.h"
#include "zt/block3_tiles.h"
#include "zt/tile_layout3.h"

namespace {

using blocktest::BlockSpec;
using blocktest::makeArray;
using blocktest::ScopedThreads;
using blocktest::valuesOf;
using testsupport::messageOf;
using zt::vec3f;
using zt::vec3i;

TEST(Block3ArrayNumbering, NewArrayHasNoBlocks) {
    zt::block3_array<float> a;
    EXPECT_EQ(a.blockCount(), 0);
    EXPECT_EQ(a.listCount(0), 0);
    EXPECT_EQ(a.listCount(1), 1);
    EXPECT_EQ(a.version(), -1);
    EXPECT_TRUE(a.loadingAllowed());
    EXPECT_FALSE(a.loadPending());
    EXPECT_EQ(a.block(1, 0), nullptr);
}

TEST(Block3ArrayNumbering, GlobalIndicesMapOntoBothLists) {
    std::vector<BlockSpec<int>> fine(5, BlockSpec<int>{{{0, 0, 0}}, {1}});
    auto a = makeArray<int>(fine, {{{{9, 9, 9}}, {7, 8}}});
    EXPECT_EQ(a->blockCount(), 6);
    EXPECT_EQ(a->slotOf(5), (std::pair<int, int64_t>{1, 1}));
    EXPECT_EQ(a->slotOf(4), (std::pair<int, int64_t>{0, 4}));
    EXPECT_EQ(a->globalIndex(1, 1), 5);
    EXPECT_EQ(valuesOf(*a, 5), (std::vector<int>{7, 8}));
    EXPECT_EQ(a->blockSize(1, 1), 2);
    EXPECT_EQ(a->blockSize(1, 0), 0);
    EXPECT_EQ(a->blockSize(0, 99), 0);
}

TEST(Block3ArrayNumbering, NullSlotWithNothingPendingIsNoBlock) {
    auto a = makeArray<float>({{{{0, 0, 0}}, {}, true}});
    EXPECT_EQ(a->block(0, 0), nullptr);
    EXPECT_TRUE(a->elements(0).empty());
    EXPECT_EQ(a->blockSize(0, 0), 0);
    EXPECT_TRUE(a->allEmpty());
    EXPECT_EQ(a->elementCount(), 0);
}

TEST(Block3ArrayMirror, ResizeLikeFollowsTheMaster) {
    auto master = makeArray<vec3f>({{{{0, 0, 0}}, {{{1, 1, 1}}}},
                                    {{{1, 0, 0}}, {}},
                                    {{{2, 0, 0}}, std::vector<vec3f>(7, vec3f{{2, 2, 2}})}},
                                   {{{{5, 5, 5}}, {{{3, 3, 3}}, {{3, 3, 3}}}}});
    auto follower = makeArray<int>({{{{0, 0, 0}}, {10, 11, 12}}}, {}, -1);
    follower->resizeLike(*master);
    EXPECT_EQ(follower->blockCount(), 4);
    EXPECT_EQ(valuesOf(*follower, 0), std::vector<int>{10});
    EXPECT_EQ(valuesOf(*follower, 1), std::vector<int>{});
    EXPECT_EQ(valuesOf(*follower, 2), std::vector<int>(7, -1));
    EXPECT_EQ(valuesOf(*follower, 3), (std::vector<int>{-1, -1}));
    EXPECT_EQ(follower->block(3)->coord(), (vec3i{{5, 5, 5}}));
    EXPECT_EQ(follower->block(2)->coord(), (vec3i{{2, 0, 0}}));

    // Lists never shrink.
    auto small = makeArray<vec3f>({});
    follower->resizeLike(*small);
    EXPECT_EQ(follower->blockCount(), 4);
    EXPECT_EQ(follower->elementCount(), 0);
}

TEST(Block3ArrayCopies, CloneIsDeepAndClearResets) {
    auto a = makeArray<int>({{{{1, 2, 3}}, {4, 5}}}, {{{{0, 0, 1}}, {6}}}, 9);
    std::unique_ptr<zt::block3_array_base> copy = a->clone();
    a->typedBlock(0)->elements()[0] = 100;
    auto& b = dynamic_cast<zt::block3_array<int>&>(*copy);
    EXPECT_EQ(valuesOf(b, 0), (std::vector<int>{4, 5}));
    EXPECT_EQ(valuesOf(b, 1), std::vector<int>{6});
    EXPECT_EQ(b.defaultValue(), 9);
    a->clear();
    EXPECT_EQ(a->blockCount(), 0);
    EXPECT_EQ(a->listCount(1), 1);
}

TEST(Block3ArrayCompaction, NullSlotsTakeTheLastBlock) {
    auto a = makeArray<int>({{{{0, 0, 0}}, {0}}, {{}, {}, true}, {{{2, 0, 0}}, {2}}, {{{3, 0, 0}}, {3}}, {{}, {}, true}},
                            {{{}, {}, true}, {{{0, 5, 0}}, {5}}});
    a->compactBlocks();
    EXPECT_EQ(a->listCount(0), 3);
    EXPECT_EQ(a->listCount(1), 2);
    EXPECT_EQ(valuesOf(*a, 0), std::vector<int>{0});
    EXPECT_EQ(valuesOf(*a, 1), std::vector<int>{3});
    EXPECT_EQ(valuesOf(*a, 2), std::vector<int>{2});
    EXPECT_EQ(valuesOf(*a, 3), std::vector<int>{5});
}

TEST(Block3ArrayLayout, FollowsNewTilesPromotionsAndEmptySlots) {
    zt::tile_layout3 layout(1.0f, 4);
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);  // 26 coarse tiles
    zt::block3_array<int> a(-5);
    a.updateLayout(layout);
    EXPECT_EQ(a.listCount(0), 1);
    EXPECT_EQ(a.listCount(1), 27);
    // Put a particle in the coarse block of tile (1, 0, 0), then promote it.
    const zt::tile3* coarse = layout.findTile(1, 0, 0);
    ASSERT_TRUE(coarse && coarse->isCoarse());
    const int64_t slot = coarse->offset();
    a.typedBlock(1, slot)->append(77);
    layout.addTile(1, 0, 0, false);
    layout.updateNeighbours(true);
    a.updateLayout(layout);
    EXPECT_EQ(a.listCount(0), 2);
    EXPECT_EQ(valuesOf(a, 1), std::vector<int>{77});
    EXPECT_EQ(a.block(0, 1)->coord(), (vec3i{{1, 0, 0}}));
    EXPECT_EQ(a.block(1, slot), nullptr);

    layout.appendEmptyFineSlot();
    a.updateLayout(layout);
    EXPECT_EQ(a.listCount(0), 3);
    EXPECT_EQ(a.block(0, 2), nullptr);
    // The layout and the blocks compact the same way.
    a.compactBlocks();
    layout.settle();
    ASSERT_EQ(a.listCount(0), layout.fineCount());
    ASSERT_EQ(a.listCount(1), layout.coarseCount());
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        EXPECT_EQ(a.block(0, s)->coord(), layout.fineTile(s)->coord());
    for (int64_t s = 1; s < layout.coarseCount(); ++s)
        EXPECT_EQ(a.block(1, s)->coord(), layout.coarseTile(s)->coord());
    EXPECT_EQ(a.typedBlock(0, 0)->defaultValue(), -5);
}

TEST(Block3ArrayErase, MarkedElementsGoAndListsAreFreed) {
    auto a = makeArray<int>({{{{0, 0, 0}}, {0, 1, 2, 3, 4}}, {{{1, 0, 0}}, {5, 6}}});
    zt::erase_list list;
    EXPECT_EQ(messageOf([&] { zt::block3_array_base::addErase(list, 0, 1); }),
              "addErase called outside beginErase/endErase block.");
    list.resize(size_t(a->blockCount()));
    zt::block3_array_base::addErase(list, 0, 1);
    zt::block3_array_base::addErase(list, 0, 3);
    zt::block3_array_base::addErase(list, 1, 0);
    zt::block3_array_base::addErase(list, 1, 1);
    EXPECT_EQ(messageOf([&] { zt::block3_array_base::addErase(list, 2, 0); }),
              "addErase called outside beginErase/endErase block.");
    a->eraseMarked(list);
    EXPECT_EQ(valuesOf(*a, 0), (std::vector<int>{0, 4, 2}));
    EXPECT_EQ(a->typedBlock(1)->capacity(), 0);
    zt::block3_array_base::clearEraseList(list);
    EXPECT_TRUE(list.empty());
    a->eraseElement(0, 0);
    EXPECT_EQ(valuesOf(*a, 0), (std::vector<int>{2, 4}));
}

TEST(Block3ArrayStatistics, WorkersMeansCountEqually) {
    using zt::block_statistic;
    zt::block3<float> ten(0, 0, 0), zero(0, 0, 0), empty(0, 0, 0);
    ten.append(10.0f);
    zero.append(0.0f);
    std::vector<zt::statistic_partial> partials(3, zt::statistic_partial(block_statistic::mean));
    partials[0].add(ten, block_statistic::mean);
    for (int r = 0; r < 3; ++r) partials[1].add(zero, block_statistic::mean);
    partials[2].add(empty, block_statistic::mean);  // saw nothing
    vec3f mean;
    ASSERT_TRUE(zt::combinePartials(partials, block_statistic::mean, mean));
    // (10 + 0) / 2, not 10 / 4.
    EXPECT_EQ(mean, (vec3f{{5, 5, 5}}));

    std::vector<zt::statistic_partial> none(2, zt::statistic_partial(block_statistic::min));
    EXPECT_FALSE(zt::combinePartials(none, block_statistic::min, mean));
}

TEST(Block3ArrayStatistics, OverBlocksWithOneAndTwoThreads) {
    auto a = makeArray<int>({{{{0, 0, 0}}, {1, 3}}, {{{1, 0, 0}}, {}}, {{{2, 0, 0}}, {-4}}});
    for (int threads : {1, 2}) {
        ScopedThreads scope(threads);
        vec3f s;
        ASSERT_TRUE(a->statistic(zt::block_statistic::min, s));
        EXPECT_EQ(s[0], -4.0f);
        ASSERT_TRUE(a->statistic(zt::block_statistic::max, s));
        EXPECT_EQ(s[1], 3.0f);
        EXPECT_EQ(a->elementCount(), 3);
        EXPECT_FALSE(a->allEmpty());
    }
    zt::block3_array<int> empty;
    vec3f s;
    EXPECT_FALSE(empty.statistic(zt::block_statistic::mean, s));
}

// Positions with the layout h = 1, N = 4 around tiles (0,0,0) and (1,0,0).
struct ReblockFixture : ::testing::Test {
    zt::tile_layout3 layout{1.0f, 4};
    void SetUp() override {
        layout.addTile(0, 0, 0, false);
        layout.addTile(1, 0, 0, false);
        layout.updateNeighbours(true);
    }
};

TEST_F(ReblockFixture, BoundaryAndNegativeParticlesFindTheirTiles) {
    zt::block3_array<vec3f> positions;
    positions.updateLayout(layout);
    zt::block3_array<int> ids(-1);
    // Particle 0 sits exactly on tile (1,0,0)'s lower face, particle 1 at
    // -0.5 cell (voxel -1, tile (-1,0,0)), particle 2 stays.
    for (vec3f p : {vec3f{{4.0f, 0.5f, 0.5f}}, vec3f{{-0.5f, 0.5f, 0.5f}}, vec3f{{1.0f, 1.0f, 1.0f}}})
        positions.typedBlock(0)->append(p);
    ids.resizeLike(positions);
    for (int e = 0; e < 3; ++e) ids.typedBlock(0)->elements()[e] = e;

    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        auto pos = std::unique_ptr<zt::block3_array<vec3f>>(
            static_cast<zt::block3_array<vec3f>*>(positions.clone().release()));
        auto id = std::unique_ptr<zt::block3_array<int>>(static_cast<zt::block3_array<int>*>(ids.clone().release()));
        zt::block_move_plan plan = pos->reblock(layout, threads);
        const zt::tile3* left = layout.findTile(-1, 0, 0);
        ASSERT_TRUE(left && left->isCoarse());
        const int64_t leftBlock = layout.blockIndex(*left);
        EXPECT_EQ(plan.toBlocks.size(), 2u);
        EXPECT_EQ(plan.toBlocks.at(1).count(), 1);
        EXPECT_EQ(plan.toBlocks.at(leftBlock).count(), 1);
        for (zt::block3_array_base* channel : {static_cast<zt::block3_array_base*>(pos.get()),
                                              static_cast<zt::block3_array_base*>(id.get())}) {
            channel->applyMoves(plan, *channel);
            channel->applyRemovals(plan);
            channel->adoptNewBlocks(plan);
        }
        EXPECT_EQ(valuesOf(*id, 0), std::vector<int>{2});
        EXPECT_EQ(valuesOf(*id, 1), std::vector<int>{0});
        EXPECT_EQ(valuesOf(*id, leftBlock), std::vector<int>{1});
        EXPECT_EQ(valuesOf(*pos, 1), (std::vector<vec3f>{{{4.0f, 0.5f, 0.5f}}}));
    }
}

TEST_F(ReblockFixture, TilesWithoutBlocksGetNewOnesAndStrayParticlesStay) {
    zt::block3_array<vec3f> positions;
    positions.appendBlock(0, positions.newBlock(0, 0, 0));
    positions.typedBlock(0)->append({{5.0f, 0.0f, 0.0f}});      // tile (1,0,0): no block yet
    positions.typedBlock(0)->append({{100.0f, 0.0f, 0.0f}});    // no tile at all
    zt::block_move_plan plan = positions.reblock(layout, 2);
    ASSERT_EQ(plan.toNewBlocks.size(), 1u);
    EXPECT_FALSE(plan.toNewBlocks.begin()->second.coarse);
    positions.applyMoves(plan, positions);
    positions.applyRemovals(plan);
    positions.adoptNewBlocks(plan);
    EXPECT_EQ(positions.listCount(0), 2);
    EXPECT_EQ(valuesOf(positions, 0), (std::vector<vec3f>{{{100.0f, 0.0f, 0.0f}}}));
    EXPECT_EQ(valuesOf(positions, 1), (std::vector<vec3f>{{{5.0f, 0.0f, 0.0f}}}));
    EXPECT_EQ(positions.block(1)->coord(), (vec3i{{1, 0, 0}}));
}

TEST_F(ReblockFixture, OnlyPositionsReblock) {
    zt::block3_array<float> notPositions;
    EXPECT_EQ(messageOf([&] { notPositions.reblock(layout, 1); }), "Cannot reblock non-3f block array!");
    zt::block3_array<vec3i> alsoNot;
    EXPECT_EQ(messageOf([&] { alsoNot.reblock(layout, 1); }), "Cannot reblock non-3f block array!");
}

TEST_F(ReblockFixture, MovesOutOfStepChannelsFail) {
    zt::block3_array<vec3f> positions;
    positions.updateLayout(layout);
    positions.typedBlock(0)->append({{5.0f, 0.0f, 0.0f}});
    zt::block3_array<float> lagging;
    lagging.updateLayout(layout);  // no elements
    zt::block_move_plan plan = positions.reblock(layout, 1);
    EXPECT_EQ(messageOf([&] { lagging.applyMoves(plan, lagging); }),
              "Particle channel out of step: block 0 has no element 0");
}

std::vector<vec3i> fineTiles(const zt::tile_layout3& layout) {
    std::vector<vec3i> out;
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        out.push_back(layout.fineTile(s) ? layout.fineTile(s)->coord() : vec3i{{-99, -99, -99}});
    return out;
}

TEST(BuildFromParticles, MirrorsBlocksAndAddsFaceNeighbours) {
    zt::tile_layout3 layout(1.0f, 8);
    // Block (0,0,0) holds a particle in its middle, one 2 voxels from its
    // high x face, and one that left for tile (0,2,0) at 1 voxel from that
    // tile's low y and low z faces.
    auto particles = makeArray<vec3f>({{{{0, 0, 0}}, {{{4.5f, 4.5f, 4.5f}}, {{6.5f, 4.5f, 4.5f}}, {{4.5f, 16.5f, 0.5f}}}},
                                       {{}, {}, true}});
    for (int threads : {1, 2}) {
        layout.reset(-1, -1);
        zt::buildFromParticles(layout, *particles, true, nullptr, 0.0f, threads);
        const std::vector<vec3i> fine = fineTiles(layout);
        // Mirrored slots first, then the requested tiles in coordinate order.
        ASSERT_EQ(fine.size(), 7u);
        EXPECT_EQ(fine[0], (vec3i{{0, 0, 0}}));
        EXPECT_EQ(fine[1], (vec3i{{-99, -99, -99}}));
        std::vector<vec3i> added(fine.begin() + 2, fine.end());
        EXPECT_EQ(added, (std::vector<vec3i>{{{0, 1, -1}}, {{0, 1, 0}}, {{0, 2, -1}}, {{0, 2, 0}}, {{1, 0, 0}}}));
        EXPECT_TRUE(layout.hasEmptyFineSlots());
        EXPECT_FALSE(layout.dirty());
    }
}

TEST(BuildFromParticles, FilterValuesBelowTheThresholdAreAccepted) {
    zt::tile_layout3 layout(1.0f, 8);
    auto particles = makeArray<vec3f>({{{{0, 0, 0}}, {{{20.5f, 4.5f, 4.5f}}, {{36.5f, 4.5f, 4.5f}}}}});
    auto filter = makeArray<float>({{{{0, 0, 0}}, {0.5f, 2.0f}}});
    zt::buildFromParticles(layout, *particles, false, filter.get(), 1.0f, 1);
    // The first particle (0.5 < 1) asks for tile (2,0,0); the second does not.
    EXPECT_EQ(fineTiles(layout), (std::vector<vec3i>{{{2, 0, 0}}}));

    // A filter without a block counts as 0 for every particle.
    zt::tile_layout3 other(1.0f, 8);
    zt::block3_array<float> noValues;
    zt::buildFromParticles(other, *particles, false, &noValues, 1.0f, 1);
    EXPECT_EQ(fineTiles(other), (std::vector<vec3i>{{{2, 0, 0}}, {{4, 0, 0}}}));
    zt::tile_layout3 none(1.0f, 8);
    zt::buildFromParticles(none, *particles, false, &noValues, 0.0f, 1);
    EXPECT_EQ(none.fineCount(), 0);
}

TEST(BuildFromParticles, BlocksHoldingOneTileTwiceAreRefused) {
    zt::tile_layout3 layout(1.0f, 8);
    auto particles = makeArray<vec3f>({{{{1, 1, 1}}, {}}, {{{1, 1, 1}}, {}}});
    EXPECT_EQ(messageOf([&] { zt::buildFromParticles(layout, *particles, true, nullptr, 0.0f); }),
              "Cannot build a tile layout: two particle blocks hold tile (1, 1, 1)");
}

}  // namespace
