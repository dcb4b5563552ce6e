// Buffer channels: statistics and their starting values, widening, element
// positions, the log line, resizing and copying, and the file record of every
// element type (byte-exact, round trips, legacy arrays).
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "MessageOf.h"
#include "ModelTestSupport.h"
#include "TempPath.h"
#include "cb/Log.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"

using Cb::BufferChannel;
using modeltest::ReaderOver;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

template <class T>
BufferChannel<T> channelOf(std::initializer_list<T> values, const T& defaultValue = T{}) {
    BufferChannel<T> channel(defaultValue);
    for (const T& v : values) channel.elements().push_back(v);
    return channel;
}

zt::vec3f all(float s) { return {s, s, s}; }

TEST(BufferStatistics, EmptyChannelsGiveZeroAndOneElementGivesItself) {
    BufferChannel<int> empty(7);
    EXPECT_EQ(all(0), empty.min3f());
    EXPECT_EQ(all(0), empty.max3f());
    EXPECT_EQ(all(0), empty.mean3f());

    auto five = channelOf<int>({5});
    EXPECT_EQ(all(5), five.min3f());
    EXPECT_EQ(all(5), five.max3f());
    EXPECT_EQ(all(5), five.mean3f());

    auto pair = channelOf<zt::vec2f>({{1, 2}});
    EXPECT_EQ((zt::vec3f{1, 2, 0}), pair.min3f());
    EXPECT_EQ((zt::vec3f{1, 2, 0}), pair.max3f());
    EXPECT_EQ((zt::vec3f{1, 2, 0}), pair.mean3f());
}

TEST(BufferStatistics, ComponentsAreComparedOneByOne) {
    auto v = channelOf<zt::vec4i>({{1, 9, -3, 100}, {4, -2, 7, -100}});
    EXPECT_EQ((zt::vec3f{1, -2, -3}), v.min3f());
    EXPECT_EQ((zt::vec3f{4, 9, 7}), v.max3f());
    auto f = channelOf<float>({-1e30f, 2.5f, 1e30f});
    EXPECT_EQ(all(-1e30f), f.min3f());
    EXPECT_EQ(all(1e30f), f.max3f());
    auto big = channelOf<int64_t>({-(int64_t(1) << 62), int64_t(1) << 62});
    EXPECT_EQ(all(-4.611686e18f), big.min3f());
    EXPECT_EQ(all(4.611686e18f), big.max3f());
}

TEST(BufferStatistics, IntegerMeansTruncateTowardZero) {
    EXPECT_EQ(all(1), channelOf<int>({1, 2}).mean3f());
    EXPECT_EQ(all(-1), channelOf<int>({-1, -2}).mean3f());
    EXPECT_EQ(all(2), channelOf<int64_t>({1, 2, 4}).mean3f());
    EXPECT_EQ((zt::vec3f{0, 1, 2}), (channelOf<zt::vec3i>({{0, 1, 2}, {1, 2, 3}}).mean3f()));
    EXPECT_EQ((zt::vec3f{0.5f, 1.5f, 0}), (channelOf<zt::vec2f>({{0, 1}, {1, 2}}).mean3f()));
}

TEST(BufferStatistics, IntegerMeansDoNotOverflow) {
    // The sum of these exceeds int; the mean is still the value itself.
    EXPECT_EQ(all(float(INT_MAX)), channelOf<int>({INT_MAX, INT_MAX, INT_MAX}).mean3f());
    EXPECT_EQ(all(float(INT_MIN)), channelOf<int>({INT_MIN, INT_MIN}).mean3f());
    EXPECT_EQ(all(float(LLONG_MAX)), channelOf<int64_t>({LLONG_MAX, LLONG_MAX}).mean3f());
}

TEST(BufferDefaults, WidenToThreeFloats) {
    EXPECT_EQ(all(3), BufferChannel<int>(3).defaultValue3f());
    EXPECT_EQ(all(-2.5f), BufferChannel<float>(-2.5f).defaultValue3f());
    EXPECT_EQ((zt::vec3f{1, 2, 0}), BufferChannel<zt::vec2i>({1, 2}).defaultValue3f());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), BufferChannel<zt::vec3i>({1, 2, 3}).defaultValue3f());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), BufferChannel<zt::vec4f>({1, 2, 3, 4}).defaultValue3f());
}

TEST(BufferPositions, OwnValuesCentresAndRefusals) {
    auto points = channelOf<zt::vec3f>({{0, 0, 0}, {1, 1, 1}, {2, 4, 6}});
    EXPECT_EQ((zt::vec3f{2, 4, 6}), points.position3f(2, nullptr));

    auto edges = channelOf<zt::vec2i>({{0, 2}});
    EXPECT_EQ((zt::vec3f{1, 2, 3}), edges.position3f(0, &points));
    auto triangles = channelOf<zt::vec3i>({{0, 1, 2}});
    EXPECT_EQ((zt::vec3f{3 * 0.3333333f, 5 * 0.3333333f, 7 * 0.3333333f}), triangles.position3f(0, &points));
    auto tets = channelOf<zt::vec4i>({{0, 1, 2, 2}});
    EXPECT_EQ((zt::vec3f{1.25f, 2.25f, 3.25f}), tets.position3f(0, &points));
    // Float indices are truncated to point indices.
    auto floatEdges = channelOf<zt::vec2f>({{0.9f, 2.7f}});
    EXPECT_EQ((zt::vec3f{1, 2, 3}), floatEdges.position3f(0, &points));

    const std::string invalid = "Invalid reference to Buffer position";
    EXPECT_EQ(invalid, messageOf([] { channelOf<int>({1}).position3f(0, nullptr); }));
    EXPECT_EQ(invalid, messageOf([] { channelOf<float>({1}).position3f(0, nullptr); }));
    EXPECT_EQ(invalid, messageOf([] { channelOf<int64_t>({1}).position3f(0, nullptr); }));
    EXPECT_EQ(invalid, messageOf([&] { edges.position3f(0, nullptr); }));
}

TEST(BufferPositions, IndicesOutsideEitherChannelThrow) {
    auto points = channelOf<zt::vec3f>({{0, 0, 0}});
    points.setName("position");
    EXPECT_EQ("Index 1 out of range in buffer channel 'position' of 1 elements",
              messageOf([&] { points.position3f(1, nullptr); }));
    EXPECT_EQ("Index -1 out of range in buffer channel 'position' of 1 elements",
              messageOf([&] { points.component(-1, 0); }));
    auto edges = channelOf<zt::vec2i>({{0, 5}});
    EXPECT_EQ("Index 5 out of range in buffer channel 'position' of 1 elements",
              messageOf([&] { edges.position3f(0, &points); }));
    auto farEdges = channelOf<zt::vec2f>({{0, 1e20f}});
    EXPECT_EQ("Index -1 out of range in buffer channel 'position' of 1 elements",
              messageOf([&] { farEdges.position3f(0, &points); }));
}

TEST(BufferComponents, ScalarsIgnoreTheComponentAndVectorsPadWithZero) {
    auto ints = channelOf<int>({4, 9});
    EXPECT_EQ(9.0f, ints.component(1, 0));
    EXPECT_EQ(9.0f, ints.component(1, 2));
    auto pairs = channelOf<zt::vec2i>({{3, 8}});
    EXPECT_EQ(8.0f, pairs.component(0, 1));
    EXPECT_EQ(0.0f, pairs.component(0, 2));
    EXPECT_EQ("Buffer-Channel sampling not yet implemented.",
              messageOf([&] { ints.sample({0, 0, 0}, nullptr, 0); }));
}

TEST(BufferSizes, ResizeLikeFillsWithTheDefaultAndResizeKeepsValues) {
    auto master = channelOf<zt::vec3i>({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}});
    auto area = channelOf<float>({1.5f}, 9.0f);
    area.resizeLike(master);
    ASSERT_EQ(3u, area.size());
    EXPECT_EQ(1.5f, area.data()[0]);
    EXPECT_EQ(9.0f, area.data()[1]);
    EXPECT_EQ(9.0f, area.data()[2]);
    area.resize(1);
    EXPECT_EQ(1u, area.size());
    EXPECT_EQ(1.5f, area.data()[0]);
    area.clear();
    EXPECT_TRUE(area.empty());
    EXPECT_EQ(0.0f, area.memoryMB());
}

TEST(BufferCopy, CopiesFromStartAndRefusesMismatches) {
    auto target = channelOf<int>({0, 0, 0, 0});
    target.setName("t");
    auto source = channelOf<int>({7, 8, 9});
    source.setName("s");
    target.copyFrom(1, source);
    EXPECT_EQ((std::vector<int>{0, 7, 8, 9}), std::vector<int>(target.data(), target.data() + 4));
    // Copying into itself reads the values held before.
    target.copyFrom(1, target);
    EXPECT_EQ((std::vector<int>{0, 0, 7, 8}), std::vector<int>(target.data(), target.data() + 4));
    target.copyFrom(4, source);  // nothing to copy

    auto floats = channelOf<float>({1});
    floats.setName("f");
    EXPECT_EQ("Cannot copy buffer channel 'f' (buffer::float) into 't' (buffer::int) from 0: the source is of another type",
              messageOf([&] { target.copyFrom(0, floats); }));
    EXPECT_EQ("Cannot copy buffer channel 's' (buffer::int) into 't' (buffer::int) from 0: the source holds too few elements",
              messageOf([&] { target.copyFrom(0, source); }));
    EXPECT_EQ("Cannot copy buffer channel 's' (buffer::int) into 't' (buffer::int) from -1: negative start",
              messageOf([&] { target.copyFrom(-1, source); }));
}

TEST(BufferClone, IsDeep) {
    auto original = channelOf<zt::vec3f>({{1, 2, 3}}, {5, 5, 5});
    original.setName("position");
    std::unique_ptr<Cb::Channel> copy(original.clone());
    auto& typed = dynamic_cast<BufferChannel<zt::vec3f>&>(*copy);
    typed.data()[0] = {9, 9, 9};
    typed.resize(2);
    EXPECT_EQ((zt::vec3f{1, 2, 3}), original.data()[0]);
    EXPECT_EQ(1u, original.size());
    EXPECT_EQ("position", typed.name());
    EXPECT_EQ((zt::vec3f{5, 5, 5}), typed.defaultValue3f());
}

TEST(BufferMemory, OneLineToTheLogFileOnly) {
    testsupport::TempDir dir;
    auto channel = channelOf<int>({});
    channel.setName("weight");
    channel.resize(1000);
    channel.printMemory();  // no log file: nothing to write, no failure
    ASSERT_TRUE(Cb::openLogFile(dir.file("log.txt")));
    channel.printMemory();
    ASSERT_TRUE(Cb::closeLogFile());
    EXPECT_EQ("            Channel weight: 0.004 MB\n", testsupport::readText(dir.file("log.txt")));
}

TEST(BufferRecord, IsByteExact) {
    auto channel = channelOf<int>({5, 7}, -1);
    channel.setName("n");
    const auto bytes = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { channel.write(w, false); });
    ByteBuilder expected;
    expected.str("buffer::int").str("n").u64(2);
    expected.f32(5).f32(5).f32(5).f32(7).f32(7).f32(7).f32(6).f32(6).f32(6);
    expected.i32(-1).u8(0).i64(2).i32(5).i32(7);
    EXPECT_EQ(testsupport::toHex(expected.data()), testsupport::toHex(bytes));
    EXPECT_EQ(2u, channel.storedCount());
    EXPECT_EQ(all(6), channel.storedMean());
}

// Values that compress, so that compressed records hold zlib pieces.
template <class T>
BufferChannel<T> filled(int64_t n) {
    using S = typename zt::scalar_of<T>::type;
    T defaultValue{};
    reinterpret_cast<S*>(&defaultValue)[0] = S(3);
    BufferChannel<T> channel(defaultValue);
    channel.resize(n);
    for (int64_t i = 0; i < n; ++i) {
        S* c = reinterpret_cast<S*>(channel.data() + i);
        for (int k = 0; k < zt::components<T>::value; ++k) c[k] = S((i * 3 + k) % 17);
    }
    channel.setName("values");
    return channel;
}

template <class T>
void expectRoundTrip(int64_t n, bool compress) {
    SCOPED_TRACE(std::string(BufferChannel<T>::staticTypeName()) + (compress ? " compressed" : " plain") +
                 " n=" + std::to_string(n));
    auto channel = filled<T>(n);
    const auto bytes = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { channel.write(w, compress); });
    ReaderOver file(bytes);
    std::unique_ptr<Cb::Channel> back;
    if (Cb::channelCreateTable().count(channel.typeName())) {
        Cb::CbRefPtr<Cb::Channel> handle = Cb::readChannel(file.reader());
        back.reset(handle->clone());
    } else {
        // buffer::int64 cannot be created by name: read its header by hand.
        Cb::ZtpInput& in = file.reader().stream();
        EXPECT_EQ(channel.typeName(), Cb::readString(in));
        EXPECT_EQ("values", Cb::readString(in));
        back = std::make_unique<BufferChannel<T>>();
        const uint64_t count = in.readU64();
        const zt::vec3f min = in.readVec3f(), max = in.readVec3f(), mean = in.readVec3f();
        back->setStoredStatistics(count, min, max, mean);
        back->read(file.reader());
    }
    EXPECT_TRUE(file.atEnd());
    const auto& typed = dynamic_cast<const BufferChannel<T>&>(*back);
    ASSERT_EQ(channel.size(), typed.size());
    EXPECT_TRUE(n == 0 || std::memcmp(channel.data(), typed.data(), size_t(n) * sizeof(T)) == 0);
    EXPECT_EQ(channel.defaultValue3f(), typed.defaultValue3f());
    EXPECT_EQ(channel.min3f(), back->storedMin());
    EXPECT_EQ(channel.max3f(), back->storedMax());
    EXPECT_EQ(channel.mean3f(), back->storedMean());
}

template <class T>
class BufferRoundTrip : public ::testing::Test {};
using BufferElementTypes = ::testing::Types<int, float, int64_t, zt::vec2i, zt::vec2f, zt::vec3i, zt::vec3f,
                                            zt::vec4i, zt::vec4f>;
TYPED_TEST_SUITE(BufferRoundTrip, BufferElementTypes);

TYPED_TEST(BufferRoundTrip, PlainAndCompressedAtEveryPieceBoundary) {
    for (int64_t n : {0, 1, 4000, 4001})
        for (bool compress : {false, true}) expectRoundTrip<TypeParam>(n, compress);
}

TEST(BufferRecord, CompressedRecordsAreSmallerThanPlainOnes) {
    auto channel = filled<zt::vec3f>(10000);
    const auto plain = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { channel.write(w, false); });
    const auto packed = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { channel.write(w, true); });
    EXPECT_LT(packed.size(), plain.size() / 4);
}

ByteBuilder legacyHeader(const std::string& type) {
    ByteBuilder b;
    b.str(type).str("legacy").u64(0);
    for (int i = 0; i < 9; ++i) b.f32(0);
    return b;
}

TEST(BufferLegacy, RawAndCompressedLegacyArraysBeforeVersion14) {
    const std::vector<zt::vec3i> values = {{1, 2, 3}, {4, 5, 6}};
    const auto raw = modeltest::bytesOf(values);

    ByteBuilder plain = legacyHeader("buffer::vec3i");
    plain.i32(9).i32(9).i32(9).u32(uint32_t(raw.size())).u32(0).bytes(raw);
    ReaderOver a(plain, 13);
    auto first = Cb::readChannel(a.reader());
    EXPECT_TRUE(a.atEnd());
    ASSERT_EQ(2u, first->size());
    EXPECT_EQ(6.0f, first->component(1, 2));
    EXPECT_EQ((zt::vec3f{9, 9, 9}), first->defaultValue3f());

    const auto zlib = modeltest::storedZlib(raw);
    ByteBuilder packed = legacyHeader("buffer::vec3i");
    packed.i32(0).i32(0).i32(0).u32(uint32_t(raw.size())).u32(1).u32(uint32_t(zlib.size())).bytes(zlib);
    ReaderOver b(packed, 12);
    auto second = Cb::readChannel(b.reader());
    EXPECT_TRUE(b.atEnd());
    ASSERT_EQ(2u, second->size());
    EXPECT_EQ(4.0f, second->component(1, 0));

    ByteBuilder empty = legacyHeader("buffer::float");
    empty.f32(1).u32(0);
    ReaderOver c(empty, 13);
    EXPECT_TRUE(Cb::readChannel(c.reader())->empty());
}

TEST(BufferLegacy, DamagedLegacyArraysFailAndLeaveTheChannelAsItWas) {
    ByteBuilder body;
    body.i32(1).u32(1u << 31).u32(0).i32(5);  // claims 2 GiB of raw elements
    ReaderOver file(body, 13);
    auto channel = channelOf<int>({1, 2}, 4);
    EXPECT_EQ("Error reading ztp array", messageOf([&] { channel.read(file.reader()); }));
    EXPECT_EQ(2u, channel.size());
    EXPECT_EQ(all(4), channel.defaultValue3f());
}

}  // namespace
