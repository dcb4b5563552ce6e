// Particle channels: names and codes, statistics, indexed access, deferred
// loading under the suppression flag, file round trips and running ids.
#include <gtest/gtest.h>

#include <cstdio>

#include "ByteBuilder.h"
#include "MessageOf.h"
#include "ParticleTestSupport.h"
#include "ScopedThreads.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/model/ChannelRegistry.h"

namespace {

using namespace particletest;
using Cb::ParticleChannel;
using testsupport::messageOf;
using zt::vec3f;
using zt::vec3i;

using testsupport::ScopedThreads;

TEST(ParticleChannelTypes, NamesCodesAndRegistryTests) {
    const std::pair<const char*, int> expected[] = {
        {"particle::int8", 12}, {"particle::int", 0},   {"particle::float", 1},  {"particle::vec3i", 5},
        {"particle::vec3f", 4}, {"particle::int64", 11}, {"particle::id64", 11}, {"particle::droplet", 1}};
    for (const auto& [name, code] : expected) {
        std::unique_ptr<Cb::Channel> channel(Cb::createChannel(name));
        EXPECT_EQ(channel->typeName(), name);
        EXPECT_EQ(channel->typeCode(), code) << name;
        EXPECT_TRUE(Cb::isChannelType(channel.get(), "particle::base"));
        EXPECT_FALSE(Cb::isChannelType(channel.get(), "buffer::base"));
        std::unique_ptr<Cb::Channel> copy(channel->clone());
        EXPECT_EQ(copy->typeName(), name);
    }
    Cb::ParticleChannelId64 ids;
    EXPECT_TRUE(Cb::isChannelType(&ids, "particle::int64"));
    EXPECT_EQ(ids.name(), "id64");
    Cb::ParticleChannelDroplet droplet;
    EXPECT_EQ(droplet.name(), "droplet");
    EXPECT_TRUE(Cb::isChannelType(&droplet, "particle::float"));
    EXPECT_FALSE(Cb::isChannelType(&droplet, "particle::id64"));
}

TEST(ParticleChannelStatistics, EmptyChannelsReportTheDefault) {
    ParticleChannel<vec3f> empty(vec3f{{1, 2, 3}});
    EXPECT_EQ(empty.min3f(), (vec3f{{1, 2, 3}}));
    EXPECT_EQ(empty.max3f(), (vec3f{{1, 2, 3}}));
    EXPECT_EQ(empty.mean3f(), (vec3f{{1, 2, 3}}));
    addBlock<vec3f>(empty, 0, {{0, 0, 0}}, {});  // a block without particles changes nothing
    EXPECT_EQ(empty.mean3f(), (vec3f{{1, 2, 3}}));
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.size(), 0u);
}

TEST(ParticleChannelStatistics, TinyChannelsWithOneAndTwoThreads) {
    for (int threads : {1, 2}) {
        ScopedThreads scope(threads);
        ParticleChannel<int> one(7);
        addBlock<int>(one, 0, {{0, 0, 0}}, {5});
        EXPECT_EQ(one.min3f(), (vec3f{{5, 5, 5}}));
        EXPECT_EQ(one.max3f(), (vec3f{{5, 5, 5}}));
        EXPECT_EQ(one.mean3f(), (vec3f{{5, 5, 5}}));

        // The mean is a mean of block means: (2 + 10) / 2, however the two
        // blocks are shared between the workers.
        ParticleChannel<float> two;
        addBlock<float>(two, 0, {{0, 0, 0}}, {1, 3});
        addBlock<float>(two, 1, {{1, 0, 0}}, {10});
        EXPECT_EQ(two.mean3f(), (vec3f{{6, 6, 6}}));
        EXPECT_EQ(two.min3f()[0], 1.0f);
        EXPECT_EQ(two.max3f()[0], 10.0f);
        EXPECT_EQ(two.size(), 3u);
        EXPECT_FALSE(two.empty());
        const int64_t capacity = two.blocks().block(0)->capacity() + two.blocks().block(1)->capacity();
        EXPECT_FLOAT_EQ(two.memoryMB(), float(capacity) * 4e-6f);
    }
}

TEST(ParticleChannelAccess, ParticleIndicesNameBlockAndElement) {
    ParticleChannel<vec3i> cells;
    addBlock<vec3i>(cells, 0, {{0, 0, 0}}, {{{1, 2, 3}}});
    addBlock<vec3i>(cells, 0, {{1, 0, 0}}, {{{4, 5, 6}}, {{7, 8, 9}}});
    addBlock<vec3i>(cells, 1, {{2, 0, 0}}, {{{-1, -2, -3}}});
    EXPECT_EQ(cells.component(particleIndex(1, 1), 2), 9.0f);
    EXPECT_EQ(cells.component(particleIndex(2, 0), 0), -1.0f);
    EXPECT_EQ(cells.value(particleIndex(0, 0)), (vec3i{{1, 2, 3}}));
    EXPECT_EQ(messageOf([&] { cells.component(particleIndex(1, 2), 0); }),
              "Particle index 4294967298 (block 1, element 2) out of range in particle channel ''");
    EXPECT_EQ(messageOf([&] { cells.component(particleIndex(7, 0), 0); }).rfind("Particle index ", 0), 0u);
    EXPECT_EQ(messageOf([&] { cells.position3f(0, nullptr); }), "Invalid reference to Particle.position");
    EXPECT_EQ(messageOf([&] { cells.sample({}, nullptr, 0); }), "Particle-Channel sampling not yet implemented.");

    ParticleChannel<vec3f> positions;
    addBlock<vec3f>(positions, 0, {{0, 0, 0}}, {{{0.5f, 1.5f, 2.5f}}});
    EXPECT_EQ(positions.position3f(0, nullptr), (vec3f{{0.5f, 1.5f, 2.5f}}));
}

TEST(ParticleChannelAccess, DefaultsReachEveryBlockAndClonesAreDeep) {
    ParticleChannel<float> values(1.0f);
    addBlock<float>(values, 0, {{0, 0, 0}}, {2.0f});
    values.setDefaultValue(4.0f);
    EXPECT_EQ(values.blocks().typedBlock(0)->defaultValue(), 4.0f);
    EXPECT_EQ(values.defaultValue3f(), (vec3f{{4, 4, 4}}));
    values.setName("heat");
    std::unique_ptr<Cb::Channel> copy(values.clone());
    values.blocks().typedBlock(0)->elements()[0] = 9.0f;
    auto& typed = dynamic_cast<ParticleChannel<float>&>(*copy);
    EXPECT_EQ(blockValues(typed, 0), std::vector<float>{2.0f});
    EXPECT_EQ(typed.name(), "heat");
    EXPECT_EQ(typed.defaultValue(), 4.0f);
    values.clear();
    EXPECT_EQ(values.rawStorage().blockCount(), 0);
}

// ----- files -----

template <class T>
T sample(int block, int element) {
    const int v = block * 100 + element % 50;
    if constexpr (zt::is_vec<T>::value)
        return T{{typename T::value_type(v), typename T::value_type(element), typename T::value_type(-v)}};
    else
        return T(v % 120);
}

template <class T>
class ParticleChannelFiles : public ::testing::Test {};
using ElementTypes = ::testing::Types<int8_t, int, float, vec3i, vec3f, int64_t>;
TYPED_TEST_SUITE(ParticleChannelFiles, ElementTypes);

TYPED_TEST(ParticleChannelFiles, RoundTripsCompressedAndRawLeaveDataOnDisk) {
    using T = TypeParam;
    ParticleChannel<T> original(sample<T>(9, 9));
    original.setName("values");
    for (int b = 0; b < 3; ++b) {
        std::vector<T> values;
        for (int e = 0; e < b * 400; ++e) values.push_back(sample<T>(b, e));
        addBlock<T>(original, 0, {{b, 0, 0}}, values);
    }
    addBlock<T>(original, 1, {{0, 0, 1}}, {sample<T>(5, 5)});
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        ZtpFile file;
        file.write([&](Cb::ZtpWriter& w) { original.write(w, compress); });
        auto reader = file.reader();
        Cb::CbRefPtr<Cb::Channel> back = Cb::readChannel(*reader);
        EXPECT_TRUE(reader->remaining() == 0);
        reader->close();
        auto& typed = dynamic_cast<ParticleChannel<T>&>(*back);
        EXPECT_EQ(typed.name(), "values");
        EXPECT_EQ(typed.storedCount(), original.size());
        EXPECT_EQ(typed.storedMax(), original.max3f());
        EXPECT_EQ(typed.defaultValue(), original.defaultValue());
        EXPECT_TRUE(typed.rawStorage().loadPending());
        EXPECT_EQ(typed.rawStorage().fileName(), file.path());
        EXPECT_EQ(typed.rawStorage().version(), Cb::kZtpVersion);
        for (int64_t g = 0; g < 4; ++g) EXPECT_EQ(blockValues(typed, g), blockValues(original, g)) << g;
        EXPECT_EQ(typed.size(), original.size());
        EXPECT_FALSE(typed.rawStorage().loadPending());
    }
}

TEST(ParticleChannelDeferred, SuppressionKeepsBlocksOnDisk) {
    ParticleChannel<float> original;
    addBlock<float>(original, 0, {{0, 0, 0}}, {1, 2, 3});
    ZtpFile file;
    file.write([&](Cb::ZtpWriter& w) { original.write(w, true); });
    auto reader = file.reader();
    Cb::CbRefPtr<Cb::Channel> back = Cb::readChannel(*reader);
    auto& typed = dynamic_cast<ParticleChannel<float>&>(*back);
    typed.setDeferredLoadSuppressed(1);
    EXPECT_EQ(typed.size(), 0u);
    EXPECT_TRUE(typed.rawStorage().loadPending());
    EXPECT_FALSE(typed.rawStorage().loadingAllowed());
    typed.setDeferredLoadSuppressed(0);
    EXPECT_EQ(typed.size(), 3u);
    EXPECT_FALSE(typed.rawStorage().loadPending());
}

// An id channel record of a version 14 file: no next id after the blocks.
void writeOldIdChannel(Cb::ZtpWriter& w, const std::vector<int64_t>& ids, bool withNextId, int64_t nextId) {
    ParticleChannel<int64_t> blocks;
    addBlock<int64_t>(blocks, 0, {{0, 0, 0}}, ids);
    Cb::ZtpOutput& out = w.stream();
    Cb::writeString(out, "particle::id64");
    Cb::writeString(out, "id64");
    out.writeU64(ids.size());
    for (int s = 0; s < 3; ++s) out.writeVec3f({{0, 0, 0}});
    out.writeI64(0);
    blocks.blocks().write(out, false);
    if (withNextId) out.writeI64(nextId);
}

TEST(ParticleChannelId64, OlderFilesContinueAtTheLargestStoredId) {
    ZtpFile file;
    file.write([](Cb::ZtpWriter& w) { writeOldIdChannel(w, {3, 41, 7}, false, 0); });
    auto reader = file.reader(14);
    Cb::CbRefPtr<Cb::Channel> back = Cb::readChannel(*reader);
    auto& ids = dynamic_cast<Cb::ParticleChannelId64&>(*back);
    // Nothing is loaded until the ids are needed.
    EXPECT_TRUE(ids.rawStorage().loadPending());
    EXPECT_EQ(ids.nextId(), 41);

    ParticleChannel<vec3f> master;
    addBlock<vec3f>(master, 0, {{0, 0, 0}}, std::vector<vec3f>(5));
    ids.resizeLike(master.blocks());
    EXPECT_EQ(blockValues(ids, 0), (std::vector<int64_t>{3, 41, 7, 41, 42}));
    EXPECT_EQ(ids.nextId(), 43);
}

TEST(ParticleChannelId64, Version15ReadsTheNextIdAndWritesItBack) {
    ZtpFile file;
    file.write([](Cb::ZtpWriter& w) { writeOldIdChannel(w, {3, 41, 7}, true, 100); });
    auto reader = file.reader(15);
    Cb::CbRefPtr<Cb::Channel> back = Cb::readChannel(*reader);
    auto& ids = dynamic_cast<Cb::ParticleChannelId64&>(*back);
    EXPECT_EQ(ids.nextId(), 100);
    EXPECT_EQ(reader->remaining(), 0);

    ZtpFile again;
    again.write([&](Cb::ZtpWriter& w) { ids.write(w, true); });
    Cb::CbRefPtr<Cb::Channel> twice = Cb::readChannel(*again.reader());
    EXPECT_EQ(dynamic_cast<Cb::ParticleChannelId64&>(*twice).nextId(), 100);
    EXPECT_EQ(blockValues(dynamic_cast<Cb::ParticleChannelId64&>(*twice), 0), (std::vector<int64_t>{3, 41, 7}));
}

TEST(ParticleChannelId64, NewElementsAndNewBlocksGetIdsInBlockOrder) {
    Cb::ParticleChannelId64 ids;
    ids.setNextId(10);
    ParticleChannel<vec3f> master;
    addBlock<vec3f>(master, 0, {{0, 0, 0}}, std::vector<vec3f>(2));
    ids.resizeLike(master.blocks());
    addBlock<vec3f>(master, 0, {{1, 0, 0}}, std::vector<vec3f>(1));
    addBlock<vec3f>(master, 1, {{0, 1, 0}}, std::vector<vec3f>(2));
    master.blocks().typedBlock(0)->append({});
    ids.resizeLike(master.blocks());
    EXPECT_EQ(blockValues(ids, 0), (std::vector<int64_t>{10, 11, 12}));
    EXPECT_EQ(blockValues(ids, 1), (std::vector<int64_t>{13}));
    EXPECT_EQ(blockValues(ids, 2), (std::vector<int64_t>{14, 15}));
    EXPECT_EQ(ids.nextId(), 16);
}

}  // namespace
