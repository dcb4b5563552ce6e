// The library pieces ztpinfo stands on: array heads read alone, the reader's
// header count and damage, channel record spans, stored data descriptions
// and statistics walked a block at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "HandMadeCache.h"
#include "InfoTestSupport.h"
#include "MessageOf.h"
#include "ParticleBodies.h"
#include "TempPath.h"
#include "cb/encoding/CompressedArray.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/StoredData.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"

using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

class StoredData : public infotest::LibraryTest {
protected:
    std::unique_ptr<Cb::ZtpReader> read(const std::string& path) {
        testsupport::CaptureStderr err;
        auto reader = std::make_unique<Cb::ZtpReader>(path, "*", "Body");
        log = err.finish();
        return reader;
    }
    // A stream over the bytes, written to a file of their own.
    Cb::ZtpInput input(const ByteBuilder& bytes, const std::string& name) {
        testsupport::writeFile(file(name), bytes.data());
        return Cb::ZtpInput(Cb::openFile(file(name), "rb"), file(name), 16);
    }

    std::string log;
};

std::vector<zt::vec3f> particlesAlong(int n, float y) {
    std::vector<zt::vec3f> v;
    for (int i = 0; i < n; ++i) v.push_back({{0.5f + 0.3f * float(i % 30), y, 0.25f * float(i % 4)}});
    return v;
}

Cb::ParticleChannelBase* particleChannel(Cb::ZtpReader& reader, int body, const std::string& name) {
    return reader.storedBody(body)->mutableShape("Particle")->mutableChannelAs<Cb::ParticleChannelBase>(name);
}

TEST_F(StoredData, ArrayHeadsTellCountCompressionAndBytesWithoutTheElements) {
    struct Case {
        ByteBuilder bytes;
        bool legacy;
        int64_t count, bytesInFile, position;
        bool compressed;
    };
    const Case cases[] = {
        {std::move(ByteBuilder().hex("00000000")), true, 0, 4, 4, false},
        {std::move(ByteBuilder().hex("08000000 00000000 01000000 02000000")), true, 2, 16, 8, false},
        // A trailing partial element is no element.
        {std::move(ByteBuilder().hex("0A000000 00000000 01000000 02000000 0300")), true, 2, 18, 8, false},
        {std::move(ByteBuilder().hex("08000000 01000000 05000000 AABBCCDDEE")), true, 2, 17, 12, true},
        {std::move(ByteBuilder().hex("00 0200000000000000 01000000 02000000")), false, 2, 17, 9, false},
        {std::move(ByteBuilder().hex("01 8813000000000000 A00F000000000000")), false, 5000, -1, 9, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        Cb::ZtpInput in = input(c.bytes, "head" + std::to_string(n++));
        const Cb::StoredArrayHead head = c.legacy ? Cb::readLegacyArrayHead(in, 4) : Cb::readCompressedArrayHead(in, 4);
        EXPECT_EQ(head.count, c.count);
        EXPECT_EQ(head.bytes, c.bytesInFile);
        EXPECT_EQ(head.compressed, c.compressed);
        EXPECT_EQ(in.tell(), c.position);
    }
    // Heads whose data cannot be there: (bytes, legacy, failure).
    const std::tuple<ByteBuilder, bool, std::string> failures[] = {
        {std::move(ByteBuilder().hex("0800")), true, "Error reading ztp array"},
        {std::move(ByteBuilder().hex("08000000 01000000 06000000 AABBCCDDEE")), true, "Error reading ztp array"},
        {std::move(ByteBuilder().hex("09000000 00000000 01000000 02000000")), true, "Error reading ztp array"},
        {ByteBuilder(), false, "Error reading compressed array"},
        {std::move(ByteBuilder().hex("00 FFFFFFFFFFFFFFFF")), false, "Error reading compressed array size"},
        {std::move(ByteBuilder().hex("00 0300000000000000 01000000 02000000")), false,
         "Error reading compressed array size"},
        {std::move(ByteBuilder().hex("01 0300")), false, "Error reading compressed array size"},
    };
    for (const auto& [bytes, legacy, message] : failures) {
        Cb::ZtpInput in = input(bytes, "bad");
        EXPECT_EQ(messageOf([&, legacy = legacy] {
                      legacy ? Cb::readLegacyArrayHead(in, 4) : Cb::readCompressedArrayHead(in, 4);
                  }),
                  message)
            << testsupport::toHex(bytes.data());
    }
}

TEST_F(StoredData, TheReaderKeepsItsHeaderCountAndWhatEndedTheReading) {
    auto a = testsupport::makeParticleBody({"a", particlesAlong(3, 0.5f)});
    auto b = testsupport::makeParticleBody({"b", particlesAlong(2, 1.5f)});
    const auto offsets = testsupport::writeBodies(file("three.ztp"), {a.get(), b.get(), a.get()});
    auto whole = read(file("three.ztp"));
    EXPECT_TRUE(whole->headerBodyCount() == 3 && whole->bodyCount() == 3 && whole->damage().empty());

    auto bytes = testsupport::readBytes(file("three.ztp"));
    bytes.resize(size_t(offsets[2]) + 30);
    testsupport::writeFile(file("three.ztp"), bytes);
    auto cut = read(file("three.ztp"));
    EXPECT_EQ(cut->headerBodyCount(), 3);
    EXPECT_EQ(cut->bodyCount(), 2);
    EXPECT_EQ(cut->damage().rfind("Corrupt ZTP: ", 0), 0u) << cut->damage();
    // The same text the warning carried.
    EXPECT_NE(log.find("Corix ** WARNING ** : " + cut->damage() + "\n"), std::string::npos) << log;
}

TEST_F(StoredData, ChannelRecordSpansCoverTheirRecordsExactly) {
    auto a = testsupport::makeParticleBody({"a", particlesAlong(40, 0.5f)});
    auto b = testsupport::makeParticleBody({"b", particlesAlong(2, 1.5f)});
    const auto offsets = testsupport::writeBodies(file("two.ztp"), {a.get(), b.get()});
    const auto bytes = testsupport::readBytes(file("two.ztp"));
    auto reader = read(file("two.ztp"));
    const Cb::Shape& shape = *reader->storedBody(0)->shape("Particle");
    ASSERT_EQ(shape.channelCount(), 3);
    for (int c = 0; c < shape.channelCount(); ++c) {
        const Cb::Channel& channel = *shape.channel(c);
        SCOPED_TRACE(channel.name());
        // The record starts with the type name and name, then (version 16)
        // the count and three vec3f.
        const int64_t at = channel.recordOffset();
        int32_t length = 0;
        std::memcpy(&length, bytes.data() + at, 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + at + 4), size_t(length)),
                  channel.typeName());
        EXPECT_EQ(channel.recordDataOffset(),
                  at + 4 + length + 1 + 4 + int64_t(channel.name().size()) + 1 + 8 + 36);
        if (c + 1 < shape.channelCount())
            EXPECT_EQ(at + channel.recordBytes(), shape.channel(c + 1)->recordOffset());
        else
            EXPECT_EQ(at + channel.recordBytes(), offsets[1]);  // the body's last record
    }
    std::unique_ptr<Cb::Channel> copy(shape.channel(0)->clone());
    EXPECT_EQ(copy->recordBytes(), shape.channel(0)->recordBytes());
    EXPECT_EQ(copy->recordOffset(), shape.channel(0)->recordOffset());
    EXPECT_EQ(Cb::ParticleChannel<float>().recordBytes(), -1);
}

TEST_F(StoredData, ChannelsAndBlocksAsStoredWithoutLoadingThem) {
    // 40 particles in one tile (compressible) and 2 in another (too few).
    std::vector<zt::vec3f> positions = particlesAlong(40, 0.5f);
    for (const zt::vec3f& p : particlesAlong(2, 10.5f)) positions.push_back(p);
    auto body = testsupport::makeParticleBody({"a", positions});
    for (const bool compress : {true, false}) {
        SCOPED_TRACE(compress);
        const std::string path = file(compress ? "c.ztp" : "r.ztp");
        testsupport::writeBodies(path, {body.get()}, compress);
        auto reader = read(path);
        Cb::StoredDataFile stored(path, reader->version());
        Cb::ParticleChannelBase* channel = particleChannel(*reader, 0, "position");
        const Cb::StoredChannel s = stored.channel(*channel);
        EXPECT_EQ(s.elements, 42);
        EXPECT_EQ(s.blocks, channel->rawStorage().blockCount());
        EXPECT_EQ(s.recordBytes, channel->recordBytes());
        EXPECT_STREQ(Cb::storedCompressionName(s.compression), compress ? "mixed" : "raw");
        int64_t listed = 0;
        for (int64_t g = 0; g < s.blocks; ++g) {
            zt::stored_block mine, library;
            ASSERT_EQ(stored.block(channel->rawStorage(), g, mine),
                      channel->rawStorage().storedBlockInfo(g, library));
            EXPECT_TRUE(mine.fileOffset == library.fileOffset && mine.storedBytes == library.storedBytes &&
                        mine.elements == library.elements && mine.compressed == library.compressed);
            listed += mine.elements;
        }
        EXPECT_EQ(listed, 42);
        // Nothing was loaded.
        EXPECT_TRUE(channel->rawStorage().loadPending());
        for (int64_t g = 0; g < s.blocks; ++g) EXPECT_EQ(channel->rawStorage().residentBlock(g), nullptr);
    }

    // Files before version 14: the block's own record says what its table
    // does not; buffer arrays are legacy arrays, field values chunked.
    for (const int32_t version : {13, 11}) {
        SCOPED_TRACE(version);
        infotest::HandMadeCache cache;
        cache.version = version;
        cache.compressPoints = version == 11;
        cache.blocks = {{{{0, 0, 0}}, particlesAlong(3, 0.5f), false}, {{{1, 0, 0}}, particlesAlong(30, 0.5f), true}};
        for (zt::vec3f& p : cache.blocks[1].positions) p[0] = 1.5f;
        const std::string path = file("v" + std::to_string(version) + ".ztp");
        testsupport::writeFile(path, cache.bytes());
        auto reader = read(path);
        ASSERT_EQ(reader->bodyCount(), 1) << log;
        Cb::StoredDataFile stored(path, version);
        Cb::ParticleChannelBase* channel = particleChannel(*reader, 0, "position");
        zt::stored_block info;
        ASSERT_TRUE(stored.block(channel->rawStorage(), 1, info));
        EXPECT_EQ(info.tile, (zt::vec3i{{1, 0, 0}}));
        EXPECT_EQ(info.elements, 30);
        EXPECT_TRUE(info.compressed);
        const size_t packed = size_t(zt::compressBuffer(cache.blocks[1].positions.data(), 360).count());
        EXPECT_EQ(info.storedBytes, int64_t(12 + 4 + 4 + 4 + packed));
        const Cb::StoredChannel s = stored.channel(*channel);
        EXPECT_TRUE(s.elements == 33 && s.compression == Cb::StoredCompression::Mixed);
        const Cb::Body& body = *reader->storedBody(0);
        const Cb::StoredChannel field = stored.channel(*body.shape("Field")->channel(0));
        EXPECT_TRUE(field.elements == 16 && field.compression == Cb::StoredCompression::Raw);
        const Cb::StoredChannel points = stored.channel(*body.shape("Point")->channel(0));
        EXPECT_EQ(points.elements, 30);
        EXPECT_EQ(points.compression, version == 11 ? Cb::StoredCompression::Compressed : Cb::StoredCompression::Raw);
    }
}

TEST_F(StoredData, StatisticsComeFromTheValuesOneBlockAtATime) {
    std::vector<zt::vec3f> positions = particlesAlong(40, 0.5f);
    for (const zt::vec3f& p : particlesAlong(3, 10.5f)) positions.push_back(p);
    positions[7][1] = std::numeric_limits<float>::quiet_NaN();
    auto body = testsupport::makeParticleBody({"a", positions});
    testsupport::writeBodies(file("s.ztp"), {body.get()});
    auto reader = read(file("s.ztp"));
    Cb::ParticleChannelBase* channel = particleChannel(*reader, 0, "position");

    double lo[3], hi[3], sum[3];
    for (int c = 0; c < 3; ++c) {
        lo[c] = std::numeric_limits<double>::infinity();
        hi[c] = -lo[c];
        sum[c] = 0;
        for (const zt::vec3f& p : positions) {
            sum[c] += p[c];
            if (std::isnan(p[c])) continue;
            lo[c] = std::min(lo[c], double(p[c]));
            hi[c] = std::max(hi[c], double(p[c]));
        }
    }
    for (int pass = 0; pass < 2; ++pass) {  // a second walk reloads what the first released
        const Cb::ChannelStatistics stats = Cb::computeStatistics(*channel);
        EXPECT_TRUE(stats.components == 3 && stats.floating && stats.count == 43 && stats.notANumber == 1);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(stats.min[size_t(c)], lo[c]);
            EXPECT_EQ(stats.max[size_t(c)], hi[c]);
        }
        EXPECT_TRUE(std::isnan(stats.mean(1)));
        EXPECT_DOUBLE_EQ(stats.mean(0), sum[0] / 43);
        EXPECT_DOUBLE_EQ(stats.mean(2), sum[2] / 43);
        EXPECT_TRUE(channel->rawStorage().loadPending());
        for (int64_t g = 0; g < channel->rawStorage().blockCount(); ++g)
            EXPECT_EQ(channel->rawStorage().residentBlock(g), nullptr);
    }
    EXPECT_TRUE(std::isnan(Cb::ChannelStatistics().mean(0)));

    // A component of nothing but NaN has no minimum or maximum.
    infotest::HandMadeCache nanCache;
    const float nanValue = std::numeric_limits<float>::quiet_NaN();
    nanCache.blocks = {{{{0, 0, 0}}, {{{0.5f, nanValue, 0.5f}}, {{0.7f, nanValue, 0.5f}}}, false}};
    testsupport::writeFile(file("n.ztp"), nanCache.bytes());
    auto nanReader = read(file("n.ztp"));
    const Cb::ChannelStatistics nan = Cb::computeStatistics(*particleChannel(*nanReader, 0, "position"));
    EXPECT_TRUE(nan.count == 2 && nan.notANumber == 2 && std::isnan(nan.min[1]) && std::isnan(nan.max[1]));
    EXPECT_TRUE(nan.min[0] == double(0.5f) && nan.max[0] == double(0.7f));

    // A field's values are loaded for the walk and let go after it.
    infotest::HandMadeCache cache;
    cache.blocks = {{{{0, 0, 0}}, particlesAlong(2, 0.5f), false}};
    testsupport::writeFile(file("f.ztp"), cache.bytes());
    auto fieldReader = read(file("f.ztp"));
    auto* field = dynamic_cast<Cb::FieldChannel1f*>(
        fieldReader->storedBody(0)->mutableShape("Field")->channel(0).mutableGet());
    ASSERT_NE(field, nullptr);
    const Cb::ChannelStatistics stats = Cb::computeStatistics(*field);
    EXPECT_TRUE(stats.count == 8 && stats.min[0] == -3.0 && stats.max[0] == 0.5 && stats.mean(0) == -1.25);
    EXPECT_EQ(field->fileName(), nullptr);
    EXPECT_EQ(field->field().fineValues().count(), 0);
}

}  // namespace
