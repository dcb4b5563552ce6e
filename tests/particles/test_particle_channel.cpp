// Particle channels: type names and codes, statistics, indexed access, and
// running ids read from older files.
#include <filesystem>

#include "MessageOf.h"
#include "ParticleTestSupport.h"
#include "ScopedThreads.h"
#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"

namespace {

using namespace particletest;
using Cb::ParticleChannel;
using testsupport::messageOf;
using zt::vec3f;

TEST(ParticleChannelTypes, NamesCodesAndTypeTestsAcrossTheSpecialClasses) {
    const std::tuple<const char*, int, const char*> expected[] = {
        {"particle::int8", 12, "particle::base"},  {"particle::int", 0, "particle::base"},
        {"particle::float", 1, "particle::base"},  {"particle::vec3i", 5, "particle::base"},
        {"particle::vec3f", 4, "particle::base"},  {"particle::int64", 11, "particle::base"},
        {"particle::id64", 11, "particle::int64"}, {"particle::droplet", 1, "particle::float"}};
    for (const auto& [name, code, base] : expected) {
        std::unique_ptr<Cb::Channel> channel(Cb::createChannel(name));
        EXPECT_EQ(name, std::unique_ptr<Cb::Channel>(channel->clone())->typeName());
        EXPECT_EQ(code, channel->typeCode()) << name;
        EXPECT_TRUE(Cb::isChannelType(channel.get(), base)) << name;
    }
}

TEST(ParticleChannelValues, StatisticsOfEmptyAndTinyChannelsAndIndexedAccess) {
    ParticleChannel<vec3f> empty(vec3f{{1, 2, 3}});
    addBlock<vec3f>(empty, 0, {{0, 0, 0}}, {});  // a block without particles changes nothing
    EXPECT_EQ((vec3f{{1, 2, 3}}), empty.min3f());
    EXPECT_EQ((vec3f{{1, 2, 3}}), empty.mean3f());
    for (int threads : {1, 2}) {
        testsupport::ScopedThreads scope(threads);
        // (2 + 10) / 2, however the two blocks fall to the workers.
        ParticleChannel<float> two;
        addBlock<float>(two, 0, {{0, 0, 0}}, {1, 3});
        addBlock<float>(two, 1, {{1, 0, 0}}, {10});
        EXPECT_EQ((vec3f{{6, 6, 6}}), two.mean3f());
    }
    // Particle indices name the block in their high half and the element in their low one.
    ParticleChannel<zt::vec3i> cells;
    addBlock<zt::vec3i>(cells, 0, {{0, 0, 0}}, {{{1, 2, 3}}});
    addBlock<zt::vec3i>(cells, 1, {{2, 0, 0}}, {{{4, 5, 6}}, {{7, 8, 9}}});
    EXPECT_EQ(9.0f, cells.component((int64_t(1) << 32) | 1, 2));
    EXPECT_EQ(messageOf([&] { cells.component((int64_t(1) << 32) | 2, 0); }),
              "Particle index 4294967298 (block 1, element 2) out of range in particle channel ''");
    EXPECT_EQ(messageOf([&] { cells.position3f(0, nullptr); }), "Invalid reference to Particle.position");
    EXPECT_EQ(messageOf([&] { cells.sample({}, nullptr, 0); }), "Particle-Channel sampling not yet implemented.");
}

// The stored mean is the mean of per-worker means of block means: it follows
// the library thread count, never the machine's core count or team size.
TEST(ParticleChannelValues, TheMeanFollowsTheLibraryThreadCountNotTheTeam) {
    ParticleChannel<float> three, five;
    for (int g = 0; g < 3; ++g) addBlock<float>(three, 0, {{g, 0, 0}}, {g == 0 ? 10.0f : 1.0f});
    for (int g = 0; g < 5; ++g) addBlock<float>(five, 0, {{g, 0, 0}}, {g < 3 ? 0.0f : 6.0f});
    // One worker: (10 + 1 + 1) / 3 and (6 + 6) / 5. Two take blocks {0, 1}
    // and {2}: (5.5 + 1) / 2; and {0, 1, 2} and {3, 4}: (0 + 6) / 2.
    const std::pair<int, std::pair<float, float>> expected[] = {{1, {4.0f, 2.4f}}, {2, {3.25f, 3.0f}}};
    for (const auto& [library, means] : expected) {
        testsupport::ScopedLibraryThreads count(library);
        for (int team : {1, 2, 4}) {
            SCOPED_TRACE(::testing::Message() << "library " << library << ", team " << team);
            testsupport::ScopedThreads scope(team);
            EXPECT_EQ((vec3f{{means.first, means.first, means.first}}), three.mean3f());
            EXPECT_EQ((vec3f{{means.second, means.second, means.second}}), five.mean3f());
            EXPECT_EQ((vec3f{{0, 0, 0}}), five.min3f());
            EXPECT_EQ((vec3f{{10, 10, 10}}), three.max3f());
        }
    }
}

TEST(ParticleChannelId64, Version14ContinuesAtTheLargestStoredIdLaterOnesAtTheStoredNextId) {
    for (const int32_t version : {14, 15}) {
        SCOPED_TRACE(version);
        testsupport::TempDir dir;
        const std::string path = dir.file("ids.ztp");
        Cb::ParticleChannelId64 stored;
        addBlock<int64_t>(stored, 0, {{0, 0, 0}}, {3, 41, 7});
        stored.setNextId(100);
        Cb::ZtpWriter writer;
        writer.openStream(path);
        stored.write(writer, false);
        writer.close();
        // The record ends with the next id; version 14 had none.
        if (version == 14) std::filesystem::resize_file(path, std::filesystem::file_size(path) - 8);
        Cb::ZtpReader reader;
        reader.openStream(path, version);
        Cb::CbRefPtr<Cb::Channel> back = Cb::readChannel(reader);
        EXPECT_EQ(0, reader.remaining());
        auto& ids = dynamic_cast<Cb::ParticleChannelId64&>(*back);
        EXPECT_TRUE(ids.rawStorage().loadPending());  // nothing is loaded until the ids are needed
        const int64_t next = version == 14 ? 41 : 100;
        EXPECT_EQ(next, ids.nextId());
        ParticleChannel<vec3f> master;
        addBlock<vec3f>(master, 0, {{0, 0, 0}}, std::vector<vec3f>(5));
        ids.resizeLike(master.blocks());
        EXPECT_EQ((std::vector<int64_t>{3, 41, 7, next, next + 1}), blockValues(ids, 0));
        // New elements and new blocks get ids in global block order.
        addBlock<vec3f>(master, 1, {{0, 1, 0}}, std::vector<vec3f>(2));
        master.blocks().typedBlock(0)->append({});
        ids.resizeLike(master.blocks());
        EXPECT_EQ(next + 2, blockValues(ids, 0).back());
        EXPECT_EQ((std::vector<int64_t>{next + 3, next + 4}), blockValues(ids, 1));
        EXPECT_EQ(next + 5, ids.nextId());
    }
}

}  // namespace
