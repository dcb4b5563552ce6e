// The scene's pieces, and the sample cache read back with the library: the
// bodies, every particle the scene defines for its id in the block of its
// tile and the per-voxel particle counts, for any thread count; the same bytes
// for the same seed; and conversion.
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "MessageOf.h"
#include "SampleCache.h"
#include "SampleCommand.h"
#include "SampleScene.h"
#include "ScopedThreads.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"

namespace {

class SampleCache : public ::testing::Test {
protected:
    ~SampleCache() override {
        while (Cb::startupDepth() > 0) Cb::end();
    }
    std::string write(const std::string& name, int64_t particles = 3000, uint64_t seed = 7, bool compress = true) {
        testsupport::CaptureStderr quiet;
        summary = sample::writeSampleCache(dir.file(name), particles, seed, compress);
        return dir.file(name);
    }
    // The file read as the converter reads it, inside a started library.
    std::unique_ptr<Cb::ZtpReader> read(const std::string& path) {
        testsupport::CaptureStderr quiet;
        Cb::begin(true);
        return std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    }
    void expectConverts(const std::string& path, int64_t particles) {
        testsupport::CaptureStdout out;
        testsupport::CaptureStderr err;
        EXPECT_TRUE(exportParticles(path.c_str(), dir.file("out.txscene").c_str(), "p", 0.01f, 24.0f, 1.0f));
        EXPECT_EQ(0u, out.finish().find("exported " + std::to_string(particles) + " particles\n"));
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", (std::string(CB_SOURCE_DIR) + "/share/corix").c_str()};
    testsupport::ScopedEnv userSig{"CORIX_USER_SIG_PATH", nullptr};
    sample::CacheSummary summary;
};

// Every particle is the source's particle of its id, in the block of its tile,
// ids ascending within a block, every id once; the particle-count field holds
// the particles found in each fine voxel.
void expectParticlesOf(Cb::Body& body, const sample::ParticleSource& source) {
    SCOPED_TRACE(body.name());
    const Cb::Shape& shape = *body.shape("Particle");
    const auto& positions = shape.channelAs<Cb::ParticleChannel<zt::vec3f>>("position")->blocks();
    const auto& velocities = shape.channelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks();
    const auto& densities = shape.channelAs<Cb::ParticleChannel<float>>("density")->blocks();
    const auto& ids = shape.channelAs<Cb::ParticleChannelId64>("id64")->blocks();
    const zt::tile_layout3& layout = body.layout();
    std::vector<bool> seen(size_t(source.count()), false);
    std::vector<float> counts(size_t(layout.fineVoxelCount()), 0.0f);
    int64_t total = 0, wrong = 0;
    for (int64_t g = 0; g < positions.blockCount(); ++g) {
        const zt::block3<zt::vec3f>* p = positions.residentTypedBlock(g);
        ASSERT_TRUE(g < layout.fineCount() ? p && p->count() > 0 : !p || p->empty()) << "block " << g;
        if (g >= layout.fineCount()) continue;
        EXPECT_EQ(layout.fineTile(g)->coord(), p->coord()) << g;
        const auto& v = *velocities.residentTypedBlock(g);
        const auto& d = *densities.residentTypedBlock(g);
        const auto& id = *ids.residentTypedBlock(g);
        ASSERT_TRUE(v.count() == p->count() && d.count() == p->count() && id.count() == p->count()) << g;
        for (int64_t e = 0; e < p->count(); ++e) {
            ASSERT_TRUE(id[e] >= 0 && id[e] < source.count() && !seen[size_t(id[e])]) << "id " << id[e];
            seen[size_t(id[e])] = true;
            const sample::SampleParticle expected = source.particle(id[e]);
            zt::vec3i voxel;
            wrong += (e > 0 && id[e] <= id[e - 1]) || !((*p)[e] == expected.position) ||
                     !(v[e] == expected.velocity) || d[e] != expected.density || !layout.voxelAt((*p)[e], 0, voxel) ||
                     layout.tileOfVoxel(voxel) != p->coord() || layout.indexAt((*p)[e], 0) < 0;
            counts[size_t(std::max<int64_t>(0, layout.indexAt((*p)[e], 0)))] += 1.0f;
        }
        total += p->count();
    }
    EXPECT_EQ(source.count(), total);
    EXPECT_EQ(0, wrong);
    EXPECT_EQ(source.count(), body.mutableParticleShape()->mutableChannelAs<Cb::ParticleChannelId64>("id64")->nextId());
    const auto& field = body.shape("Field")->channelAs<Cb::FieldChannelParticleCount>("particle-count")->field();
    EXPECT_EQ(counts, std::vector<float>(field.fineValues().begin(), field.fineValues().end()));
}

// The particle total, seed, compression and thread count of a write.
class SampleCacheCases : public SampleCache,
                         public ::testing::WithParamInterface<std::tuple<int64_t, uint64_t, bool, int>> {};

}  // namespace

TEST(SampleScene, SplitVoxelSizeAndMistBounds) {
    const std::pair<int64_t, int64_t> splits[] = {{0, 0}, {1, 0}, {9, 2}, {10, 3}, {sample::kMaxParticles, 600000000}};
    for (const auto& [total, jet] : splits)
        EXPECT_TRUE(sample::splitCount(total).jet == jet && sample::splitCount(total).pool == total - jet) << total;
    EXPECT_EQ(sample::kCoarsestVoxel, sample::liquidVoxelSize(1000, 8.0));
    EXPECT_EQ(sample::kCoarsestVoxel, sample::liquidVoxelSize(1000000, 0.0));
    EXPECT_EQ(sample::kFinestVoxel, sample::liquidVoxelSize(int64_t(1) << 62, 8.0));
    const float h = sample::liquidVoxelSize(7000000, 8.0);
    EXPECT_NEAR(8.0, 7000000.0 * h * h * h / sample::PoolSource::volume(), 1e-3);
    // Only a box's nearest point counts: one reaching into the cloud touches it.
    const sample::Box box = sample::Mist::bounds();
    const float middle = 0.5f * (box.lo[1] + box.hi[1]);
    EXPECT_TRUE(sample::Mist::touches({{{-9.0f, middle, -9.0f}}, {{0.0f, middle, 9.0f}}}));
    EXPECT_FALSE(sample::Mist::touches({{{box.hi[0] + 0.01f, 0.0f, 0.0f}}, {{box.hi[0] + 1.0f, 9.0f, 1.0f}}}));
}

TEST_P(SampleCacheCases, ReadsBackAsTheSceneDefinesItAndConverts) {
    const auto [particles, seed, compress, threads] = GetParam();
    std::string path;
    {
        testsupport::ScopedThreads team(threads);
        path = write("scene.ztp", particles, seed, compress);
    }
    const sample::SceneCounts counts = sample::splitCount(particles);
    {
        const auto reader = read(path);
        ASSERT_EQ(3, reader->bodyCount());
        Cb::Body &pool = *reader->storedBody(0), &jet = *reader->storedBody(1), &mist = *reader->storedBody(2);
        const char* names[][2] = {
            {"Pool", "Particle-Liquid"}, {"Fountain", "Particle-Liquid"}, {"Mist", "Field-Smoke"}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(names[i][0], reader->storedBody(i)->name());
            EXPECT_EQ(names[i][1], reader->storedBody(i)->signatureName());
            EXPECT_EQ(reader->storedBody(i)->layout().fineCount(), summary.bodies.at(size_t(i)).tiles);
        }
        // The signatures' sections came along.
        EXPECT_TRUE(pool.sectionCount() == 3 && mist.sectionCount() == 2 && !mist.hasShape("Particle"));
        EXPECT_NEAR(sample::liquidVoxelSize(counts.pool, 8.0), pool.layout().cellSize(), 1e-6);
        expectParticlesOf(pool, sample::PoolSource(seed, counts.pool));
        expectParticlesOf(jet, sample::JetSource(seed, counts.jet));
        EXPECT_TRUE(summary.bodies[0].particles == counts.pool && summary.bodies[1].particles == counts.jet);
        const auto& mistValues = mist.shape("Field")->channelAs<Cb::FieldChannel1f>("density")->field().fineValues();
        ASSERT_GT(mistValues.count(), 0);  // with or without particles
        const float densest = *std::max_element(mistValues.begin(), mistValues.end());
        EXPECT_TRUE(densest > 0.5f * sample::Mist::kPeakDensity && densest <= 1.25f * sample::Mist::kPeakDensity);
    }
    expectConverts(path, particles);
}

// The last case has enough particles for the pool's voxel to shrink below its
// coarsest size; the first none at all.
INSTANTIATE_TEST_SUITE_P(Writes, SampleCacheCases,
                         ::testing::Values(std::make_tuple(int64_t(0), uint64_t(5), true, 2),
                                           std::make_tuple(int64_t(3000), uint64_t(7), true, 1),
                                           std::make_tuple(int64_t(3000), uint64_t(8), false, 3),
                                           std::make_tuple(int64_t(300000), uint64_t(3), false, 2)));

TEST_F(SampleCache, SameSeedSameBytesAtAnyThreadCount) {
    std::vector<std::vector<uint8_t>> files;
    for (int threads : {1, 3}) {
        testsupport::ScopedThreads team(threads);
        files.push_back(testsupport::readBytes(write("a.ztp")));
    }
    EXPECT_TRUE(files[0] == files[1]);
    EXPECT_FALSE(files[0] == testsupport::readBytes(write("b.ztp", 3000, 8)));
    EXPECT_GT(testsupport::readBytes(write("raw.ztp", 3000, 7, false)).size(), files[0].size());
}

TEST_F(SampleCache, AnUnwritablePathFailsAndLeavesNothing) {
    testsupport::writeFile(dir.file("plain"), std::string("not a folder"));
    const std::string path = dir.file("plain/cache.ztp");
    testsupport::CaptureStderr quiet;
    EXPECT_EQ("Ztp::Writer(" + path + ") failed: Cannot open file for writing.",
              testsupport::messageOf([&] { sample::writeSampleCache(path, 100, 1, true); }));
    EXPECT_EQ(0, Cb::startupDepth());
    EXPECT_FALSE(testsupport::fileExists(path));
}
