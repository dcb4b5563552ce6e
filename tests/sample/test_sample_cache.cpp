// The sample cache read back with the library: the bodies and their values,
// every particle the scene defines for its id in the block of its tile, the
// per-voxel particle counts and the mist, compressed and raw; the same file
// for the same seed, the same blocks for any thread count; and conversion.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "SampleCache.h"
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
#include "cb/qel/FrameTime.h"
#include "cb/values/ValueBase.h"
#include "zt/tile3.h"
#include "zt/tile_layout3.h"

namespace {

using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

constexpr int64_t kParticles = 3000;
constexpr uint64_t kSeed = 7;
const char* const kParticleChannels[] = {"position", "velocity", "density", "id64"};

// The checkout's installation; the library stopped at the end whatever a
// test did.
class SampleCache : public ::testing::Test {
protected:
    ~SampleCache() override {
        while (Cb::startupDepth() > 0) Cb::end();
    }

    std::string write(const std::string& name, int64_t particles = kParticles, uint64_t seed = kSeed,
                      bool compress = true) {
        const std::string path = dir.file(name);
        testsupport::CaptureStderr quiet;
        summary = sample::writeSampleCache(path, particles, seed, compress);
        return path;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", (std::string(CB_SOURCE_DIR) + "/share/corix").c_str()};
    testsupport::ScopedEnv userSig{"CORIX_USER_SIG_PATH", nullptr};
    sample::CacheSummary summary;
};

// A file read as the converter reads it, with the library started for it.
class ReadBack {
public:
    explicit ReadBack(const std::string& path) {
        testsupport::CaptureStderr quiet;
        Cb::begin(true);
        reader_ = std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    }
    ~ReadBack() {
        reader_.reset();
        Cb::end();
    }
    int bodyCount() const { return reader_->bodyCount(); }
    Cb::Body& body(int i) const { return *reader_->storedBody(i); }

private:
    std::unique_ptr<Cb::ZtpReader> reader_;
};

double number(Cb::Body& body, const std::string& name, int component = 0) {
    return body.value(name)->evalNumber(Cb::FrameTime(), component, 0);
}

// Every particle of the body is the source's particle of its id, lies in the
// tile of its block, and ids ascend within a block; every id appears once.
void expectParticlesOf(Cb::Body& body, const sample::ParticleSource& source) {
    SCOPED_TRACE(body.name());
    const Cb::Shape& shape = *body.shape("Particle");
    for (const char* name : kParticleChannels) EXPECT_GE(shape.indexOf(name), 0) << name;
    EXPECT_EQ("particle::id64", shape.channel("id64")->typeName());
    const auto& positions = shape.channelAs<Vec3fChannel>("position")->blocks();
    const auto& velocities = shape.channelAs<Vec3fChannel>("velocity")->blocks();
    const auto& densities = shape.channelAs<Cb::ParticleChannel<float>>("density")->blocks();
    const auto& ids = shape.channelAs<Cb::ParticleChannelId64>("id64")->blocks();
    const zt::tile_layout3& layout = body.layout();

    std::vector<bool> seen(size_t(source.count()), false);
    int64_t total = 0, wrongValues = 0, wrongTiles = 0, wrongOrder = 0;
    for (int64_t g = 0; g < positions.blockCount(); ++g) {
        const zt::block3<zt::vec3f>* p = positions.residentTypedBlock(g);
        if (g >= layout.fineCount()) {
            EXPECT_TRUE(!p || p->empty()) << "coarse block " << g;
            continue;
        }
        ASSERT_NE(nullptr, p) << g;
        EXPECT_EQ(layout.fineTile(g)->coord(), p->coord()) << g;
        const auto& v = *velocities.residentTypedBlock(g);
        const auto& d = *densities.residentTypedBlock(g);
        const auto& id = *ids.residentTypedBlock(g);
        ASSERT_EQ(p->count(), v.count());
        ASSERT_EQ(p->count(), d.count());
        ASSERT_EQ(p->count(), id.count());
        EXPECT_GT(p->count(), 0) << "a tile without particles";
        for (int64_t e = 0; e < p->count(); ++e) {
            ASSERT_GE(id[e], 0);
            ASSERT_LT(id[e], source.count());
            EXPECT_FALSE(seen[size_t(id[e])]) << "id " << id[e] << " twice";
            seen[size_t(id[e])] = true;
            if (e > 0 && id[e] <= id[e - 1]) ++wrongOrder;
            const sample::SampleParticle expected = source.particle(id[e]);
            if (!((*p)[e] == expected.position && v[e] == expected.velocity && d[e] == expected.density))
                ++wrongValues;
            zt::vec3i voxel;
            if (!layout.voxelAt((*p)[e], 0, voxel) || layout.tileOfVoxel(voxel) != p->coord()) ++wrongTiles;
        }
        total += p->count();
    }
    EXPECT_EQ(source.count(), total);
    EXPECT_EQ(0, wrongValues);
    EXPECT_EQ(0, wrongTiles);
    EXPECT_EQ(0, wrongOrder);
    EXPECT_EQ(source.count(), body.mutableParticleShape()->mutableChannelAs<Cb::ParticleChannelId64>("id64")->nextId());
}

// Field.particle-count holds, per fine voxel, the particles the library finds
// in it.
void expectVoxelCounts(Cb::Body& body) {
    SCOPED_TRACE(body.name());
    const zt::tile_layout3& layout = body.layout();
    const zt::field3<float>& field =
        body.shape("Field")->channelAs<Cb::FieldChannelParticleCount>("particle-count")->field();
    ASSERT_EQ(layout.fineVoxelCount(), field.fineValues().count());
    std::vector<float> expected(size_t(layout.fineVoxelCount()), 0.0f);
    const auto& positions = body.shape("Particle")->channelAs<Vec3fChannel>("position")->blocks();
    for (int64_t g = 0; g < layout.fineCount(); ++g)
        for (const zt::vec3f& p : positions.residentTypedBlock(g)->elements()) {
            const int64_t index = layout.indexAt(p, 0);
            ASSERT_GE(index, 0);
            expected[size_t(index)] += 1.0f;
        }
    EXPECT_EQ(expected, std::vector<float>(field.fineValues().begin(), field.fineValues().end()));
}

// Field.density holds the mist's density at each fine voxel's sample point.
void expectMist(Cb::Body& body, uint64_t seed) {
    const zt::tile_layout3& layout = body.layout();
    const zt::field3<float>& field = body.shape("Field")->channelAs<Cb::FieldChannel1f>("density")->field();
    ASSERT_EQ(layout.fineVoxelCount(), field.fineValues().count());
    const sample::Mist mist(seed);
    const int n = int(layout.tileSize());
    int64_t wrong = 0;
    float densest = 0.0f;
    for (int64_t s = 0; s < layout.fineCount(); ++s) {
        const zt::tile3& tile = *layout.fineTile(s);
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const int64_t index = tile.voxelIndex(x, y, z);
                    const zt::vec3i voxel{{tile.origin()[0] + x, tile.origin()[1] + y, tile.origin()[2] + z}};
                    const float value = field.fineValues()[index];
                    if (value != mist.density(layout.positionOf(index, field.sampleSet()), voxel)) ++wrong;
                    densest = std::max(densest, value);
                }
    }
    EXPECT_EQ(0, wrong);
    EXPECT_GT(densest, 0.5f * sample::Mist::kPeakDensity);
    EXPECT_LE(densest, 1.25f * sample::Mist::kPeakDensity);
}

// The whole cache against the scene for the particle total and seed.
void expectScene(const std::string& path, const sample::CacheSummary& summary, int64_t particles, uint64_t seed) {
    const sample::SceneCounts counts = sample::splitCount(particles);
    ReadBack file(path);
    ASSERT_EQ(3, file.bodyCount());
    Cb::Body& pool = file.body(0);
    Cb::Body& jet = file.body(1);
    Cb::Body& mist = file.body(2);
    EXPECT_EQ("Pool", pool.name());
    EXPECT_EQ("Fountain", jet.name());
    EXPECT_EQ("Mist", mist.name());
    EXPECT_EQ("Particle-Liquid", pool.signatureName());
    EXPECT_EQ("Particle-Liquid", jet.signatureName());
    EXPECT_EQ("Field-Smoke", mist.signatureName());

    // The signatures' sections came along, with the values the scene set.
    EXPECT_EQ(3, pool.sectionCount());
    EXPECT_EQ(2, mist.sectionCount());
    EXPECT_EQ(1000.0, number(pool, "Density"));
    EXPECT_EQ(2.0, number(pool, "Interior Supersampling"));
    EXPECT_FLOAT_EQ(pool.layout().cellSize(), float(number(pool, "Master Voxel Size")));
    EXPECT_FLOAT_EQ(jet.layout().cellSize(), float(number(jet, "Master Voxel Size")));
    EXPECT_FLOAT_EQ(mist.layout().cellSize(), float(number(mist, "Master Voxel Size")));
    EXPECT_EQ(0.0, number(jet, "Initial Velocity", 0));
    EXPECT_EQ(double(sample::JetSource::kSpeed), number(jet, "Initial Velocity", 1));
    EXPECT_EQ(0.0, number(jet, "Initial Velocity", 2));
    EXPECT_FALSE(mist.hasShape("Particle"));

    expectParticlesOf(pool, sample::PoolSource(seed, counts.pool));
    expectParticlesOf(jet, sample::JetSource(seed, counts.jet));
    expectVoxelCounts(pool);
    expectVoxelCounts(jet);
    expectMist(mist, seed);

    ASSERT_EQ(3u, summary.bodies.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(file.body(i).name(), summary.bodies[size_t(i)].name);
        EXPECT_EQ(file.body(i).layout().fineCount(), summary.bodies[size_t(i)].tiles);
    }
    EXPECT_EQ(counts.pool, summary.bodies[0].particles);
    EXPECT_EQ(counts.jet, summary.bodies[1].particles);
    EXPECT_EQ(particles, summary.particles());
}

// The bytes of every block of every particle channel of the file's bodies.
std::vector<std::vector<uint8_t>> particleBlocks(const std::string& path) {
    ReadBack file(path);
    std::vector<std::vector<uint8_t>> blocks;
    for (int b = 0; b < file.bodyCount(); ++b) {
        if (!file.body(b).hasShape("Particle")) continue;
        const Cb::Shape& shape = *file.body(b).shape("Particle");
        for (const char* name : kParticleChannels) {
            const auto* channel = dynamic_cast<const Cb::ParticleChannelBase*>(shape.channel(name).get());
            channel->makeResident();
            for (int64_t g = 0; g < channel->rawStorage().blockCount(); ++g) {
                const std::span<const uint8_t> bytes = channel->blockBytes(g);
                blocks.emplace_back(bytes.begin(), bytes.end());
            }
        }
    }
    return blocks;
}

class SampleCacheModes : public SampleCache, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(SampleCacheModes, ReadsBackAsTheSceneDefinesIt) {
    const bool compress = GetParam();
    const std::string path = write("scene.ztp", kParticles, kSeed, compress);
    expectScene(path, summary, kParticles, kSeed);
}

INSTANTIATE_TEST_SUITE_P(CompressedAndRaw, SampleCacheModes, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Compressed" : "Raw"; });

TEST_F(SampleCache, FinerVoxelsForMoreParticlesStillHoldTheScene) {
    // Enough particles for the pool's voxel to shrink below its coarsest size.
    const int64_t particles = 300000;
    const std::string path = write("fine.ztp", particles, 3, false);
    EXPECT_LT(summary.bodies[0].voxelSize, sample::kCoarsestVoxel);
    expectScene(path, summary, particles, 3);
}

TEST_F(SampleCache, SameSeedSameBytesOtherSeedOtherParticles) {
    testsupport::ScopedThreads threads(2);
    const std::vector<uint8_t> a = testsupport::readBytes(write("a.ztp"));
    const std::vector<uint8_t> b = testsupport::readBytes(write("b.ztp"));
    EXPECT_TRUE(a == b);
    const std::string other = write("c.ztp", kParticles, kSeed + 1);
    EXPECT_FALSE(a == testsupport::readBytes(other));
    expectScene(other, summary, kParticles, kSeed + 1);

    const std::vector<uint8_t> raw = testsupport::readBytes(write("raw.ztp", kParticles, kSeed, false));
    EXPECT_GT(raw.size(), a.size());
}

TEST_F(SampleCache, TheBlocksDoNotDependOnTheThreadCount) {
    std::string one, three;
    {
        testsupport::ScopedThreads threads(1);
        one = write("one.ztp");
    }
    {
        testsupport::ScopedThreads threads(3);
        three = write("three.ztp");
    }
    const auto blocks = particleBlocks(one);
    EXPECT_FALSE(blocks.empty());
    EXPECT_TRUE(blocks == particleBlocks(three));
}

TEST_F(SampleCache, NoParticlesStillWritesEveryBody) {
    const std::string path = write("empty.ztp", 0);
    {
        ReadBack file(path);
        ASSERT_EQ(3, file.bodyCount());
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(0, file.body(i).shape("Particle")->size());
            EXPECT_EQ(0, file.body(i).layout().fineCount());
            EXPECT_FLOAT_EQ(sample::kCoarsestVoxel, file.body(i).layout().cellSize());
        }
        EXPECT_GT(file.body(2).layout().fineCount(), 0);
    }
    testsupport::CaptureStdout out;
    testsupport::CaptureStderr err;
    EXPECT_TRUE(exportParticles(path.c_str(), dir.file("empty.txscene").c_str(), "p", 0.01f, 24.0f, 1.0f));
    EXPECT_EQ(0u, out.finish().find("exported 0 particles\n"));
}

TEST_F(SampleCache, ConvertsToEveryParticle) {
    const std::string path = write("convert.ztp");
    testsupport::CaptureStdout out;
    testsupport::CaptureStderr err;
    ASSERT_TRUE(exportParticles(path.c_str(), dir.file("convert.txscene").c_str(), "p", 0.01f, 24.0f, 1.0f));
    const std::string printed = out.finish();
    EXPECT_EQ(0u, printed.find("exported 3000 particles\n")) << printed;
    // The pool's particles reach out to nearly 4 m.
    EXPECT_NE(std::string::npos, printed.find("bounding box is (-3.")) << printed;
}

TEST_F(SampleCache, AnUnwritablePathFailsAndLeavesNothing) {
    testsupport::writeFile(dir.file("plain"), std::string("not a folder"));
    const std::string path = dir.file("plain/cache.ztp");
    testsupport::CaptureStderr quiet;
    try {
        sample::writeSampleCache(path, 100, 1, true);
        ADD_FAILURE() << "no failure";
    } catch (const std::exception& e) {
        EXPECT_EQ("Ztp::Writer(" + path + ") failed: Cannot open file for writing.", std::string(e.what()));
    }
    EXPECT_EQ(0, Cb::startupDepth());
    EXPECT_FALSE(testsupport::fileExists(path));
}
