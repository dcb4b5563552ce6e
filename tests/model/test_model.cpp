// Buffer channels, the channel type registry and shapes, with the failure
// texts of each in one table; channel and shape records. Round trips of every
// buffer type, at two chunked pieces, are the writer's tests.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/factory/BuiltinTypes.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/PointShape.h"

namespace {

using namespace testsupport;
using Cb::BufferChannel;
using namespace zt;
using Positions = BufferChannel<vec3f>;

// The channel and shape types, registered once as start-up does.
[[maybe_unused]] const bool kRegistered = (Cb::registerChannelTypes(), Cb::registerShapeTypes(), true);

// A ZtpReader over the given bytes, as a file of the given version.
struct ReaderOver {
    TempDir dir;
    Cb::ZtpReader reader;
    explicit ReaderOver(const ByteBuilder& bytes, int32_t version = Cb::kZtpVersion) {
        writeFile(dir.file("input.ztp"), bytes.data());
        reader.openStream(dir.file("input.ztp"), version);
    }
    bool atEnd() { return reader.remaining() == 0; }
};

// Everything `write` puts into a fresh writer.
std::vector<uint8_t> bytesWritten(const std::function<void(Cb::ZtpWriter&)>& write) {
    TempDir dir;
    Cb::ZtpWriter writer;
    writer.openStream(dir.file("output.ztp"));
    write(writer);
    writer.close();
    return readBytes(dir.file("output.ztp"));
}

vec3f all(float s) { return {s, s, s}; }

template <class T>
BufferChannel<T> channelOf(std::initializer_list<T> values, const T& defaultValue = T{}, const char* name = "") {
    BufferChannel<T> channel(defaultValue);
    for (const T& v : values) channel.elements().push_back(v);
    channel.setName(name);
    return channel;
}

template <class T>
std::vector<T> valuesOf(const BufferChannel<T>& c) { return std::vector<T>(c.data(), c.data() + c.size()); }

// Minimum, maximum, mean and default, widened to three floats.
template <class T>
std::vector<vec3f> statsOf(std::initializer_list<T> values, const T& defaultValue = T{}) {
    auto c = channelOf<T>(values, defaultValue);
    return {c.min3f(), c.max3f(), c.mean3f(), c.defaultValue3f()};
}

TEST(BufferChannel, StatisticsOfEmptyTinyAndExtremeChannels) {
    const struct { const char* name; std::vector<vec3f> got, expected; } cases[] = {
        {"empty", statsOf<int>({}, 7), {all(0), all(0), all(0), all(7)}},
        {"pairs pad z", statsOf<vec2f>({{1, 2}}, {3, 4}), {{1, 2, 0}, {1, 2, 0}, {1, 2, 0}, {3, 4, 0}}},
        {"per component", statsOf<vec4i>({{1, 9, -3, 100}, {4, -2, 7, -100}}, {1, 2, 3, 4}),
         {{1, -2, -3}, {4, 9, 7}, {2, 3, 2}, {1, 2, 3}}},
        {"truncated toward zero", statsOf<int>({-1, -2}), {all(-2), all(-1), all(-1), all(0)}},
        {"big sum", statsOf<int>({INT_MAX, INT_MAX, INT_MAX}), {all(INT_MAX), all(INT_MAX), all(INT_MAX), all(0)}},
        {"big sum 64", statsOf<int64_t>({LLONG_MAX, LLONG_MAX}), {all(0x1p63f), all(0x1p63f), all(0x1p63f), all(0)}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
}

TEST(BufferChannel, PositionsAreOwnValuesOrElementCentresAndComponentsPadWithZero) {
    auto points = channelOf<vec3f>({{0, 0, 0}, {1, 1, 1}, {2, 4, 6}});
    EXPECT_EQ(points.position3f(2, nullptr), (vec3f{2, 4, 6}));
    EXPECT_EQ(channelOf<vec2i>({{0, 2}}).position3f(0, &points), (vec3f{1, 2, 3}));
    EXPECT_EQ(channelOf<vec3i>({{0, 1, 2}}).position3f(0, &points),
              (vec3f{3 * 0.3333333f, 5 * 0.3333333f, 7 * 0.3333333f}));
    EXPECT_EQ(channelOf<vec4i>({{0, 1, 2, 2}}).position3f(0, &points), (vec3f{1.25f, 2.25f, 3.25f}));
    EXPECT_EQ(channelOf<vec2f>({{0.9f, 2.7f}}).position3f(0, &points), (vec3f{1, 2, 3}));  // indices truncated
    EXPECT_EQ(channelOf<int>({4, 9}).component(1, 2), 9.0f);  // scalars ignore the component
    EXPECT_EQ(channelOf<vec2i>({{3, 8}}).component(0, 1), 8.0f);
    EXPECT_EQ(channelOf<vec2i>({{3, 8}}).component(0, 2), 0.0f);
}

TEST(BufferChannel, ResizingKeepsValuesAndCopiesReadTheValuesHeldBefore) {
    auto area = channelOf<float>({1.5f}, 9.0f);
    area.resizeLike(channelOf<vec3i>({{}, {}, {}}));
    EXPECT_EQ(valuesOf(area), (std::vector<float>{1.5f, 9, 9}));
    auto target = channelOf<int>({0, 0, 0, 0});
    target.copyFrom(1, channelOf<int>({7, 8, 9}));
    EXPECT_EQ(valuesOf(target), (std::vector<int>{0, 7, 8, 9}));
    target.copyFrom(1, target);
    EXPECT_EQ(valuesOf(target), (std::vector<int>{0, 0, 7, 8}));
}

// A buffer::int record of one element as a file of `version` holds it:
// statistics from version 12, a chunked array from 14, a legacy array before.
ByteBuilder intRecord(int32_t version, const std::string& name = "count") {
    ByteBuilder b;
    b.str("buffer::int").str(name);
    if (version >= 12) b.u64(99).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7).f32(8).f32(9);
    b.i32(-1);
    return version >= 14 ? b.u8(0).i64(1).i32(42) : b.u32(4).u32(0).i32(42);
}

class SubclassOfFloat : public BufferChannel<float> {};

TEST(ChannelFailures, EveryRefusalHasItsTextAndChangesNothing) {
    auto points = channelOf<vec3f>({{0, 0, 0}}, {}, "position");
    auto edges = channelOf<vec2i>({{0, 5}});
    auto target = channelOf<int>({0, 0, 0, 0}, 4, "t");
    auto source = channelOf<int>({7, 8, 9}, 0, "s");
    auto floats = channelOf<float>({1}, 0, "f");
    BufferChannel<int64_t> big;
    ByteBuilder damaged, unknown, cut;
    damaged.i32(1).u32(1u << 31).u32(0).i32(5);  // a legacy array claiming 2 GiB
    unknown.str("buffer::int64").str("ids");
    cut.raw(intRecord(16).data().data(), 30);  // inside the statistics
    ReaderOver legacy(damaged, 13), unknownFile(unknown), cutFile(cut);
    ReaderOver spaced(intRecord(16, "a b"));
    const std::string invalid = "Invalid reference to Buffer position";
    const std::string range = " out of range in buffer channel 'position' of 1 elements";
    const std::string copyS = "Cannot copy buffer channel 's' (buffer::int) into 't' (buffer::int) from ";
    const std::string space = "Cannot set channel name 'a b': Spaces are  not allowed in channel names";
    const struct { std::function<void()> action; std::string expected; } cases[] = {
        {[] { channelOf<int>({1}).position3f(0, nullptr); }, invalid},
        {[&] { edges.position3f(0, nullptr); }, invalid},
        {[&] { points.position3f(1, nullptr); }, "Index 1" + range},
        {[&] { points.component(-1, 0); }, "Index -1" + range},
        {[&] { edges.position3f(0, &points); }, "Index 5" + range},
        {[&] { channelOf<vec2f>({{0, 1e20f}}).position3f(0, &points); }, "Index -1" + range},
        {[&] { target.sample({0, 0, 0}, nullptr, 0); }, "Buffer-Channel sampling not yet implemented."},
        {[&] { target.copyFrom(0, floats); },
         "Cannot copy buffer channel 'f' (buffer::float) into 't' (buffer::int) from 0: the source is of another type"},
        {[&] { target.copyFrom(0, source); }, copyS + "0: the source holds too few elements"},
        {[&] { target.copyFrom(-1, source); }, copyS + "-1: negative start"},
        {[&] { target.setName("a b"); }, space},
        {[&] { target.read(legacy.reader); }, "Error reading ztp array"},
        {[] { Cb::createChannel("buffer::int64"); }, "Unknown channel type: 'buffer::int64'"},
        {[&] { Cb::isChannelType(&big, "buffer::int64"); }, "Unknown channel type: 'buffer::int64'"},
        {[] { Cb::createChannel("buffer::base"); }, "Unknown channel type: 'buffer::base'"},
        {[&] { Cb::readChannel(unknownFile.reader); }, "Unknown channel type: 'buffer::int64'"},
        {[&] { Cb::readChannel(spaced.reader); }, space},
        {[&] { Cb::readChannel(cutFile.reader); }, "Error reading ztp value"},
    };
    for (const auto& c : cases) EXPECT_EQ(messageOf(c.action), c.expected);
    EXPECT_EQ(target.name(), "t");
    target.setName("a\tb");  // tabs are no spaces
    EXPECT_EQ(target.name(), "a\tb");
    EXPECT_EQ(valuesOf(target), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(target.defaultValue3f(), all(4));
}

TEST(ChannelRegistry, CreatesEveryBufferTypeAndTestsTheClassTree) {
    for (const char* name : {"buffer::int", "buffer::float", "buffer::vec2f", "buffer::vec2i", "buffer::vec3f",
                             "buffer::vec3i", "buffer::vec4f", "buffer::vec4i"}) {
        std::unique_ptr<Cb::Channel> channel(Cb::createChannel(name));
        EXPECT_TRUE(channel->typeName() == name && channel->empty() && channel->defaultValue3f() == all(0) &&
                    Cb::isChannelType(channel.get(), name) && Cb::isChannelType(channel.get(), "buffer::base"))
            << name;
    }
    SubclassOfFloat derived;
    EXPECT_TRUE(Cb::isChannelType(&derived, "buffer::float"));  // a downcast, not an exact type
    EXPECT_FALSE(Cb::isChannelType(nullptr, "buffer::base"));
    CaptureStderr capture;
    Cb::registerChannelType("buffer::int", &Cb::newChannelOf<BufferChannel<float>>,
                            &Cb::isChannelOf<BufferChannel<float>>);
    EXPECT_EQ(capture.finish(), "Corix ** WARNING ** : Skipping channel type 'buffer::int': already registered.\n");
    EXPECT_EQ(std::unique_ptr<Cb::Channel>(Cb::createChannel("buffer::int"))->typeName(), "buffer::int");
}

TEST(ChannelRecord, IsByteExact) {
    auto channel = channelOf<int>({5, 7}, -1, "n");
    ByteBuilder expected;
    expected.str("buffer::int").str("n").u64(2);
    expected.f32(5).f32(5).f32(5).f32(7).f32(7).f32(7).f32(6).f32(6).f32(6);
    expected.i32(-1).u8(0).i64(2).i32(5).i32(7);
    EXPECT_EQ(toHex(bytesWritten([&](Cb::ZtpWriter& w) { channel.write(w, false); })), toHex(expected.data()));
}

TEST(ChannelRecord, StoredStatisticsFromVersion12AndLegacyArraysBefore14) {
    for (int32_t version : {14, 13, 11}) {
        SCOPED_TRACE(version);
        const bool stored = version >= 12;
        ReaderOver file(intRecord(version), version);
        Cb::CbRefPtr<Cb::Channel> channel = Cb::readChannel(file.reader);
        EXPECT_TRUE(file.atEnd() && channel.refCount() == 1);
        EXPECT_EQ(channel->storedCount(), stored ? 99u : 0u);  // as stored, not the live count
        EXPECT_EQ((std::vector<vec3f>{channel->storedMin(), channel->storedMax(), channel->storedMean()}),
                  stored ? (std::vector<vec3f>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}) : std::vector<vec3f>(3, all(0)));
        EXPECT_TRUE(channel->size() == 1 && channel->component(0, 0) == 42.0f && channel->defaultValue3f() == all(-1));
    }
}

std::unique_ptr<Cb::PointShape> pointsWith(std::initializer_list<vec3f> positions) {
    auto shape = std::make_unique<Cb::PointShape>(true);
    shape->resizeElements(int64_t(positions.size()));
    std::copy(positions.begin(), positions.end(), shape->mutableChannelAs<Positions>("position")->data());
    shape->setModifiedFlags(0);
    return shape;
}

std::vector<vec3f> positionsOf(const Cb::Shape& shape, const std::string& name) {
    const auto* channel = shape.channelAs<Positions>(name);
    return std::vector<vec3f>(channel->data(), channel->data() + channel->size());
}

array1<vec3f> arrayOf(std::initializer_list<vec3f> values) {
    array1<vec3f> a;
    for (const vec3f& v : values) a.push_back(v);
    return a;
}

std::vector<uint8_t> bytesOf(const Cb::Md5Digest& digest) { return {digest.begin(), digest.end()}; }

TEST(ShapeLookup, QualifiedNamesFindTheSameHandleAndMutableAccessFlagsItsNameOnly) {
    const struct { const char* name; const char* parts; } names[] = {
        {"Particle.position", "Particle|position"}, {"position", "|position"}, {"a.b.c", "a|b.c"}, {".x", "|x"}};
    for (const auto& n : names) EXPECT_EQ(Cb::shapePart(n.name) + "|" + Cb::channelPart(n.name), n.parts);
    Cb::PointShape shape(true);
    for (const char* name : {"b.c", "distance", "velocity", "Velocity"}) shape.createChannel1f(name, 0);
    EXPECT_EQ(&shape.channel("position"), &shape.channel("Point.position"));
    EXPECT_EQ(&shape.channel(0), &shape.channel(".position"));  // an empty shape part is no shape
    EXPECT_EQ(shape.channel("Point.b.c")->name(), "b.c");
    EXPECT_EQ(shape.indexOf("Anything.b.c"), 1);
    EXPECT_EQ(shape.indexOf("b"), -1);
    EXPECT_NE(shape.channelAs<Cb::BufferChannelBase>("Point.b.c"), nullptr);
    shape.mutableChannel("Velocity");
    shape.channel("distance");  // read access
    EXPECT_EQ(shape.modifiedFlags(), 0u);
    shape.mutableChannel("velocity");
    EXPECT_EQ(shape.modifiedFlags(), uint32_t(Cb::kVelocityModified));
    shape.mutableChannel(2);
    shape.mutableChannel("Point.position");
    EXPECT_EQ(shape.modifiedFlags(), 7u);
}

TEST(ShapeFailures, EveryRefusalHasItsTextAndChangesNothing) {
    auto shape = pointsWith({{1, 2, 3}, {4, 5, 6}});
    shape->createChannel1i("count", 0);
    Cb::EdgeShape edges(true), bare(false);
    Cb::ChannelHandle stranger(new Cb::ParticleChannel<float>());
    stranger->setName("stranger");
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1};
    const std::string wrongType = " in Point-shape requested: wrong channel type";
    const std::string exists = "' in Point-Shape: channel already exists (of type buffer::vec3f)";
    const std::string noHandle = "A channel handle without a channel cannot join a Point-Shape";
    const struct { std::function<void()> action; std::string expected; } cases[] = {
        {[] { Cb::createShape("Sphere", true); }, "Unknown shape: 'Sphere'"},
        {[&] { shape->channel("Field.position"); }, "Channel 'Field.position cannot be found in shape 'Point'"},
        {[&] { shape->mutableChannel("Field.b.c"); }, "Channel 'Field.b.c cannot be found in shape 'Point'"},
        {[&] { shape->channel("velocity"); }, "Channel 'velocity' not found in Point-shape"},
        {[&] { std::as_const(*shape).channel("Point.velocity"); }, "Channel 'velocity' not found in Point-shape"},
        {[&] { shape->channelAs<BufferChannel<float>>("count"); }, "Channel 'count'" + wrongType},
        {[&] { shape->mutableChannelAs<BufferChannel<vec3i>>("Point.count"); }, "Channel 'Point.count'" + wrongType},
        {[&] { shape->channelAs<BufferChannel<int>>(0); }, "Channel 'position'" + wrongType},
        {[&] { shape->createChannel3f("position", {1, 1, 1}); }, "Cannot create channel 'position" + exists},
        {[&] { shape->createChannel1i("Point.position", 0); }, "Cannot create channel 'Point.position" + exists},
        {[&] { shape->appendChannel(Cb::ChannelHandle()); }, noHandle},
        {[&] { shape->replaceChannel(Cb::ChannelHandle()); }, noHandle},
        {[&] { shape->replaceChannel(stranger); }, "Cannot replace channel 'stranger': channel does not exist."},
        {[&] { shape->applyTransform(m); }, "Channel 'velocity' not found in Point-shape"},
        {[&] { shape->advancePositions(arrayOf({{1, 1, 1}}), 1.0); },
         "Cannot advance Point.position: dx holds 1 entries for 2 points"},
        {[&] { edges.appendChannel(stranger); },
         "Cannot keep channel 'stranger' (particle::float) of Edge-Shape at the element count of 'index': "
         "not a buffer channel"},
        {[&] { bare.resizeElements(2); }, "Channel 'index' not found in Edge-shape"},
        {[&] { edges.adoptMaster(bare); }, "Channel 'index' not found in Edge-shape"},
    };
    for (const auto& c : cases) EXPECT_EQ(messageOf(c.action), c.expected);
    EXPECT_EQ(shape->channelCount(), 2);
    EXPECT_EQ(shape->modifiedFlags(), 0u);  // refused lookups and transforms flag nothing
    EXPECT_EQ(positionsOf(*shape, "position"), (std::vector<vec3f>{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(edges.channelCount(), 1);
    EXPECT_EQ(stranger.refCount(), 1);
}

TEST(ShapeChannels, ReplaceAddMissingAndRemove) {
    auto a = pointsWith({{1, 1, 1}, {2, 2, 2}});
    Cb::PointShape b(true);
    b.createChannel1f("area", 5);
    b.createChannel1i("id", 0);
    Cb::ChannelHandle area = b.channel("area");
    a->addMissingChannels(b);
    ASSERT_EQ(a->channelCount(), 3);
    EXPECT_EQ(a->channel(1)->name() + " " + a->channel(2)->name(), "area id");
    // Both followed a's two points, which gave each a copy of its own.
    EXPECT_TRUE(a->channel("area")->size() == 2 && b.channel("area")->size() == 0);
    a->replaceChannel(area);
    EXPECT_TRUE(a->channel("area") == b.channel("area"));
    EXPECT_EQ(a->channel("area").refCount(), 3);  // a, b and the local handle
    a->removeChannel("Point.id");
    a->removeChannel("nothing");
    EXPECT_EQ(a->channelCount(), 2);
    EXPECT_EQ(a->indexOf("id"), -1);
}

// A float buffer channel with a hook priority that records its hook calls.
class HookChannel : public BufferChannel<float> {
public:
    HookChannel(int priority, std::vector<std::string>* calls) : priority_(priority), calls_(calls) {}
    Channel* clone() const override { return new HookChannel(*this); }
    int hookPriority() const override { return priority_; }
    void updateStep(const Cb::FrameTime&, const Cb::Body&) override { calls_->push_back(name()); }

private:
    int priority_;
    std::vector<std::string>* calls_;
};

TEST(ShapeHooks, RunInDescendingPriorityKeepingListOrderOnDetachedChannels) {
    std::vector<std::string> calls;
    Cb::PointShape shape(false);
    for (auto [name, priority] : {std::pair{"a1", 1}, {"b10", 10}, {"c1", 1}, {"d5", 5}, {"e10", 10}}) {
        Cb::ChannelHandle handle(new HookChannel(priority, &calls));
        handle->setName(name);
        shape.appendChannel(handle);
    }
    std::unique_ptr<Cb::Shape> copy(shape.clone());
    shape.setModifiedFlags(Cb::kDistanceModified);
    shape.updateStep(Cb::FrameTime(), Cb::Body("B"));
    EXPECT_EQ(calls, (std::vector<std::string>{"b10", "e10", "d5", "a1", "c1"}));
    for (int k = 0; k < shape.channelCount(); ++k) EXPECT_FALSE(shape.channel(k) == copy->channel(k));
    EXPECT_EQ(shape.modifiedFlags(), uint32_t(Cb::kDistanceModified));  // as it was
}

TEST(ShapeRecord, ExactHeadReadBackRepeatedNamesAndBadCounts) {
    auto source = pointsWith({{1, 2, 3}, {4, 5, 6}});
    source->createChannel1i("id", 7);
    const auto bytes = bytesWritten([&](Cb::ZtpWriter& w) { source->write(w, "*", true); });
    ByteBuilder head;
    head.str("Point").i32(2).str("buffer::vec3f").str("position");
    EXPECT_EQ(toHex({bytes.begin(), bytes.begin() + std::ptrdiff_t(head.size())}), toHex(head.data()));
    ReaderOver file(ByteBuilder().bytes(bytes)), again(ByteBuilder().bytes(bytes));
    for (ReaderOver* f : {&file, &again}) EXPECT_EQ(Cb::readString(f->reader.stream()), "Point");
    Cb::PointShape back(false);
    back.read(file.reader);
    EXPECT_TRUE(file.atEnd());
    ASSERT_EQ(back.channelCount(), 2);
    // The same records again: the first is refused, nothing after it is read.
    EXPECT_EQ(messageOf([&] { back.read(again.reader); }),
              "Cannot create channel 'position' in Point-Shape: channel already exists (of type buffer::vec3f)");
    EXPECT_EQ(back.channelCount(), 2);
    // A negative count reads no channel; an absurd one ends with the file.
    Cb::PointShape empty(false);
    ReaderOver negative(ByteBuilder().i32(-5)), absurd(ByteBuilder().i32(0x7fffffff));
    empty.read(negative.reader);
    EXPECT_EQ(messageOf([&] { empty.read(absurd.reader); }), "Error reading ztp value");
    EXPECT_EQ(empty.channelCount(), 0);
}

TEST(MeshShapes, ChannelsFollowTheMasterCountAndAdoptTheOtherIndex) {
    Cb::TriangleShape shape(true);
    shape.createChannel1f("area", 2.5f);
    shape.resizeElements(3);
    shape.createChannel3f("normal", {0, 0, 1});  // sized at once
    EXPECT_TRUE(shape.channel("area")->component(2, 0) == 2.5f && shape.channel("normal")->component(2, 2) == 1.0f);
    shape.resizeElements(1);
    EXPECT_EQ(shape.channel("normal")->size(), 1u);
    Cb::TriangleShape target(false);
    target.createChannel1f("weight", 1);
    target.adoptMaster(shape);
    EXPECT_TRUE(target.channel(0) == shape.channel("index"));  // first, and shared
    EXPECT_EQ(target.channel("weight")->size(), 1u);
}

TEST(MeshShapes, DigestIsTheMd5OfTheMasterBytes) {
    Cb::EdgeShape edges(true);
    edges.resizeElements(2);
    vec2i* index = edges.mutableChannelAs<BufferChannel<vec2i>>("index")->data();
    index[0] = {0, 2};
    index[1] = {1, 3};
    EXPECT_EQ(bytesOf(edges.masterDigest()), fromHex("924c95df37872d20082bd1758f22b78d"));
    EXPECT_EQ(bytesOf(pointsWith({{0, 0, 0}, {1, 2, 3}})->masterDigest()), fromHex("bda16a5549cf0a5ed148f686ed4649a8"));
}

TEST(PointShape, TransformOfACopyMovesItsPositionsAndTurnsItsVelocitiesOnly) {
    auto original = pointsWith({{1, 2, 3}});
    original->createChannel3f("velocity", {0, 0, 0});
    original->mutableChannelAs<Positions>("velocity")->data()[0] = {1, 0, 0};
    std::unique_ptr<Cb::Shape> shape(original->clone());
    shape->setModifiedFlags(0);
    shape->channelAs<Positions>("position");  // read access does not detach
    EXPECT_EQ(original->channel(0).refCount(), 2);
    // A quarter turn about z (x -> y) with translation (10, 20, 30).
    const float m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
    shape->applyTransform(m);
    EXPECT_EQ(positionsOf(*shape, "position"), (std::vector<vec3f>{{8, 21, 33}}));
    EXPECT_EQ(positionsOf(*shape, "velocity"), (std::vector<vec3f>{{0, 1, 0}}));
    EXPECT_EQ(shape->modifiedFlags(), uint32_t(Cb::kPositionModified | Cb::kVelocityModified));
    EXPECT_EQ(positionsOf(*original, "position"), (std::vector<vec3f>{{1, 2, 3}}));
    EXPECT_EQ(positionsOf(*original, "velocity"), (std::vector<vec3f>{{1, 0, 0}}));
    EXPECT_EQ(original->channel(0).refCount(), 1);
}

TEST(PointShape, DifferencesAdvanceAndVelocitiesOrWarnings) {
    auto a = pointsWith({{0, 0, 0}, {1, 1, 1}});
    Cb::PointShape wrongType(false);
    wrongType.createChannel1f("position", 0);
    array1<vec3f> dx = arrayOf({{7, 7, 7}});
    CaptureStderr capture;
    EXPECT_FALSE(a->pointDifference(wrongType, dx));
    EXPECT_FALSE(a->pointDifference(*pointsWith({{0, 0, 0}}), dx));
    EXPECT_FALSE(a->computeVelocity(arrayOf({{1, 2, 3}, {4, 5, 6}}), 0.0));
    EXPECT_FALSE(a->computeVelocity(arrayOf({{1, 2, 3}, {4, 5, 6}}), 1e-8));
    EXPECT_FALSE(a->computeVelocity(dx, 1.0));
    const std::string w = "Corix ** WARNING ** : Cannot calculate ";
    EXPECT_EQ(capture.finish(), w + "point difference: missing Point.position\n" + w +
                                    "point difference: point count mismatch.\n" + w + "Point.velocity: dt=0\n" + w +
                                    "Point.velocity: dt=1e-08\n" + w + "Point.velocity: dx size mismatch\n");
    EXPECT_EQ(std::vector<vec3f>(dx.begin(), dx.end()), (std::vector<vec3f>{{7, 7, 7}}));
    EXPECT_TRUE(a->indexOf("velocity") == -1 && a->modifiedFlags() == 0);

    ASSERT_TRUE(a->pointDifference(*pointsWith({{1, 2, 3}, {1, 0, 1}}), dx));
    EXPECT_EQ(std::vector<vec3f>(dx.begin(), dx.end()), (std::vector<vec3f>{{1, 2, 3}, {0, -1, 0}}));
    a->advancePositions(dx, 0.5);
    EXPECT_EQ(positionsOf(*a, "position"), (std::vector<vec3f>{{0.5f, 1, 1.5f}, {1, 0.5f, 1}}));
    EXPECT_EQ(a->modifiedFlags(), uint32_t(Cb::kPositionModified));
    ASSERT_TRUE(a->computeVelocity(dx, -0.25));
    EXPECT_EQ(positionsOf(*a, "velocity"), (std::vector<vec3f>{{-4, -8, -12}, {0, 4, 0}}));
    EXPECT_EQ(a->modifiedFlags(), uint32_t(Cb::kPositionModified | Cb::kVelocityModified));
}

}  // namespace
