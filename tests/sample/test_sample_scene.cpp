// The scene's pieces on their own: the counter-based numbers, the particle
// sources inside their bounds and with the motion they describe, the split of
// a particle total, the voxel size and the mist.
#include <gtest/gtest.h>

#include <cmath>

#include "SampleCommand.h"
#include "SampleScene.h"

namespace {

bool inside(const zt::vec3f& p, const sample::Box& box) {
    for (int a = 0; a < 3; ++a)
        if (!(p[a] >= box.lo[a] && p[a] <= box.hi[a])) return false;
    return true;
}

}  // namespace

TEST(SampleScene, UniformNumbersRepeatAndSpread) {
    EXPECT_EQ(sample::uniform(1, 2, 3, 4), sample::uniform(1, 2, 3, 4));
    double sum = 0.0;
    int distinct = 0;
    double previous = -1.0;
    for (uint64_t i = 0; i < 10000; ++i) {
        const double u = sample::uniform(5, 1, i, 0);
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        sum += u;
        if (u != previous) ++distinct;
        previous = u;
    }
    EXPECT_EQ(10000, distinct);
    EXPECT_NEAR(0.5, sum / 10000.0, 0.01);
    EXPECT_NE(sample::uniform(1, 2, 3, 4), sample::uniform(2, 2, 3, 4));
    EXPECT_NE(sample::uniform(1, 2, 3, 4), sample::uniform(1, 3, 3, 4));
    EXPECT_NE(sample::uniform(1, 2, 3, 4), sample::uniform(1, 2, 3, 5));
}

TEST(SampleScene, PoolParticlesLieInTheWaterWithinTheBounds) {
    const sample::PoolSource pool(11, 20000);
    const sample::Box box = pool.bounds();
    for (int64_t i = 0; i < pool.count(); ++i) {
        const sample::SampleParticle p = pool.particle(i);
        ASSERT_TRUE(inside(p.position, box)) << i;
        const double r = std::hypot(double(p.position[0]), double(p.position[2]));
        ASSERT_LE(r, sample::PoolSource::kRadius + 1e-5) << i;
        ASSERT_LE(double(p.position[1]), sample::PoolSource::surfaceHeight(r) + 1e-6) << i;
        ASSERT_GE(p.density, 1000.0f) << i;
        ASSERT_LE(p.density, 1001.0f) << i;
    }
    // The same index gives the same particle; another seed another one.
    EXPECT_EQ(pool.particle(17).position, sample::PoolSource(11, 5).particle(17).position);
    EXPECT_NE(pool.particle(17).position, sample::PoolSource(12, 20000).particle(17).position);
}

TEST(SampleScene, JetDropsFlyFromTheSurfaceInLaunchOrder) {
    const sample::JetSource jet(11, 20000);
    const sample::Box box = jet.bounds();
    for (int64_t i = 0; i < jet.count(); ++i) {
        const sample::SampleParticle p = jet.particle(i);
        ASSERT_TRUE(inside(p.position, box)) << i;
        ASSERT_GE(p.position[1], sample::PoolSource::kDepth) << i;
    }
    // The first drop has flown longest and falls back; the last just left the
    // nozzle at full speed.
    const sample::SampleParticle first = jet.particle(0), last = jet.particle(jet.count() - 1);
    EXPECT_LT(first.velocity[1], -(sample::JetSource::kSpeed - sample::JetSource::kJitter) * 0.99f);
    EXPECT_GT(last.velocity[1], (sample::JetSource::kSpeed - sample::JetSource::kJitter) * 0.99f);
    EXPECT_NEAR(sample::PoolSource::kDepth, last.position[1], 0.01f);
    EXPECT_NEAR(sample::PoolSource::kDepth, first.position[1], 0.01f);
    // A one-drop jet is halfway up its path.
    EXPECT_NEAR(0.0f, sample::JetSource(11, 1).particle(0).velocity[1], 1e-4f);
}

TEST(SampleScene, SplitKeepsThreeTenthsForTheJetAndLosesNothing) {
    EXPECT_EQ(0, sample::splitCount(0).pool + sample::splitCount(0).jet);
    EXPECT_EQ(1, sample::splitCount(1).pool);
    EXPECT_EQ(0, sample::splitCount(1).jet);
    EXPECT_EQ(7, sample::splitCount(9).pool);
    EXPECT_EQ(2, sample::splitCount(9).jet);
    EXPECT_EQ(7, sample::splitCount(10).pool);
    EXPECT_EQ(3, sample::splitCount(10).jet);
    const sample::SceneCounts most = sample::splitCount(sample::kMaxParticles);
    EXPECT_EQ(600000000, most.jet);
    EXPECT_EQ(sample::kMaxParticles, most.pool + most.jet);
}

TEST(SampleScene, VoxelSizeGivesThePoolItsParticlesPerVoxelWithinLimits) {
    EXPECT_EQ(sample::kCoarsestVoxel, sample::liquidVoxelSize(0, 8.0));
    EXPECT_EQ(sample::kCoarsestVoxel, sample::liquidVoxelSize(1000, 8.0));
    EXPECT_EQ(sample::kCoarsestVoxel, sample::liquidVoxelSize(1000000, 0.0));
    const int64_t pool = 7000000;
    const float h = sample::liquidVoxelSize(pool, 8.0);
    EXPECT_NEAR(8.0, double(pool) * double(h) * h * h / sample::PoolSource::volume(), 1e-3);
    EXPECT_EQ(sample::kFinestVoxel, sample::liquidVoxelSize(int64_t(1) << 62, 8.0));
}

TEST(SampleScene, MistIsDensestInItsMiddleAndEmptyOutside) {
    const sample::Mist mist(3);
    const sample::Box box = sample::Mist::bounds();
    zt::vec3f centre;
    for (int a = 0; a < 3; ++a) centre[a] = 0.5f * (box.lo[a] + box.hi[a]);
    const float middle = mist.density(centre, {{0, 0, 0}});
    EXPECT_GE(middle, 0.75f * sample::Mist::kPeakDensity);
    EXPECT_LE(middle, 1.25f * sample::Mist::kPeakDensity);
    EXPECT_EQ(middle, mist.density(centre, {{0, 0, 0}}));
    EXPECT_EQ(0.0f, mist.density(box.lo, {{0, 0, 0}}));
    EXPECT_EQ(0.0f, mist.density(box.hi, {{0, 0, 0}}));
    EXPECT_TRUE(sample::Mist::touches({centre, centre}));
    EXPECT_TRUE(sample::Mist::touches(box));
    EXPECT_FALSE(sample::Mist::touches({{{box.hi[0] + 0.01f, 0.0f, 0.0f}}, {{box.hi[0] + 1.0f, 9.0f, 1.0f}}}));
    // Only a box's nearest point counts: one reaching into the cloud touches it.
    EXPECT_TRUE(sample::Mist::touches({{{-9.0f, centre[1], -9.0f}}, {{0.0f, centre[1], 9.0f}}}));
}
