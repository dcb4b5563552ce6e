// The shape base: qualified lookups and their failures, modified flags,
// channel list operations, copy-on-write sharing, hook order, the shape
// record (selection, warnings, write list) and the memory report.
#include <gtest/gtest.h>

#include <memory>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "ModelTestSupport.h"
#include "cb/Log.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/PointShape.h"

using Cb::BufferChannel;
using Cb::ChannelHandle;
using modeltest::ReaderOver;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

// A buffer shape of any kind name, its master "position".
class KindShape : public Cb::BufferShape {
public:
    explicit KindShape(const std::string& kind) : BufferShape(kind) {}
    Shape* clone() const override { return new KindShape(*this); }
    using Shape::hookOrder;

protected:
    const char* masterName() const override { return "position"; }
};

// A shape that holds no channel types of its own: the base's refusals.
class BareShape : public Cb::Shape {
public:
    BareShape() : Shape("Bare") {}
    Shape* clone() const override { return new BareShape(*this); }
    int64_t size() const override { return 0; }
    bool empty() const override { return true; }
    void adoptMaster(const Shape&) override {}
    Cb::Channel* createChannel1f(const std::string&, float) override { return nullptr; }
    Cb::Channel* createChannel1i(const std::string&, int) override { return nullptr; }
    Cb::Channel* createChannel1i64(const std::string&, int64_t) override { return nullptr; }
    Cb::Channel* createChannel3f(const std::string&, const zt::vec3f&) override { return nullptr; }
    Cb::Channel* createChannel3i(const std::string&, const zt::vec3i&) override { return nullptr; }
    Cb::Channel* masterChannel() const override { return nullptr; }
};

// A float buffer channel with a hook priority, recording hook calls.
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

// The hooks under test never look at the body.
const Cb::Body& anyBody() {
    alignas(64) static const unsigned char storage[64] = {};
    return reinterpret_cast<const Cb::Body&>(storage);
}

std::unique_ptr<Cb::PointShape> pointsWith(std::initializer_list<zt::vec3f> positions) {
    auto shape = std::make_unique<Cb::PointShape>(true);
    shape->resizeElements(int64_t(positions.size()));
    auto* p = shape->mutableChannelAs<BufferChannel<zt::vec3f>>("position");
    int64_t i = 0;
    for (const zt::vec3f& v : positions) p->data()[i++] = v;
    shape->setModifiedFlags(0);
    return shape;
}

TEST(ShapeNames, QualifiedPartsSplitAtTheFirstDot) {
    EXPECT_EQ("Particle", Cb::shapePart("Particle.position"));
    EXPECT_EQ("position", Cb::channelPart("Particle.position"));
    EXPECT_EQ("", Cb::shapePart("position"));
    EXPECT_EQ("position", Cb::channelPart("position"));
    EXPECT_EQ("a", Cb::shapePart("a.b.c"));
    EXPECT_EQ("b.c", Cb::channelPart("a.b.c"));
    EXPECT_EQ("", Cb::shapePart(".x"));
    EXPECT_EQ("x", Cb::channelPart(".x"));
}

TEST(ShapeLookup, PlainAndQualifiedNamesFindTheSameHandle) {
    KindShape shape("Particle");
    shape.createChannel3f("position", {0, 0, 0});
    shape.createChannel1f("b.c", 0);
    EXPECT_EQ(&shape.channel("position"), &shape.channel("Particle.position"));
    EXPECT_EQ(&shape.channel(0), &shape.channel(".position"));  // an empty shape part is no shape
    // Everything after the first dot is the channel name.
    EXPECT_EQ("b.c", shape.channel("Particle.b.c")->name());
    EXPECT_EQ(1, shape.indexOf("Anything.b.c"));
    EXPECT_EQ(-1, shape.indexOf("b"));
}

TEST(ShapeLookup, OtherShapesAndMissingChannelsFailWithTheirTexts) {
    KindShape shape("Particle");
    shape.createChannel3f("position", {0, 0, 0});
    EXPECT_EQ("Channel 'Field.position cannot be found in shape 'Particle'",
              messageOf([&] { shape.channel("Field.position"); }));
    EXPECT_EQ("Channel 'Field.b.c cannot be found in shape 'Particle'",
              messageOf([&] { shape.mutableChannel("Field.b.c"); }));
    EXPECT_EQ("Channel 'velocity' not found in Particle-shape", messageOf([&] { shape.channel("velocity"); }));
    EXPECT_EQ("Channel 'velocity' not found in Particle-shape",
              messageOf([&] { std::as_const(shape).channel("Particle.velocity"); }));
    EXPECT_EQ(0u, shape.modifiedFlags());
}

TEST(ShapeLookup, TypedLookupsTestTheRegistryType) {
    Cb::PointShape shape(true);
    shape.createChannel1i("count", 0);
    EXPECT_NE(nullptr, shape.channelAs<BufferChannel<zt::vec3f>>("position"));
    EXPECT_NE(nullptr, shape.channelAs<Cb::BufferChannelBase>("Point.count"));
    EXPECT_NE(nullptr, shape.channelAs<BufferChannel<int>>(1));
    EXPECT_EQ("Channel 'count' in Point-shape requested: wrong channel type",
              messageOf([&] { shape.channelAs<BufferChannel<float>>("count"); }));
    EXPECT_EQ("Channel 'Point.count' in Point-shape requested: wrong channel type",
              messageOf([&] { shape.mutableChannelAs<BufferChannel<zt::vec3i>>("Point.count"); }));
    EXPECT_EQ("Channel 'position' in Point-shape requested: wrong channel type",
              messageOf([&] { shape.channelAs<BufferChannel<int>>(0); }));
    EXPECT_EQ(0u, shape.modifiedFlags());  // a refused mutable lookup flags nothing
}

TEST(ShapeFlags, MutableAccessSetsTheFlagOfItsNameOnly) {
    KindShape shape("Particle");
    for (const char* name : {"position", "distance", "velocity", "Velocity", "other"})
        shape.createChannel1f(name, 0);
    shape.mutableChannel("velocity");
    EXPECT_EQ(uint32_t(Cb::kVelocityModified), shape.modifiedFlags());
    shape.mutableChannel("Velocity");
    shape.mutableChannel(4);
    EXPECT_EQ(uint32_t(Cb::kVelocityModified), shape.modifiedFlags());
    shape.mutableChannel(1);
    shape.mutableChannel("Particle.position");
    EXPECT_EQ(7u, shape.modifiedFlags());
    shape.channel("distance");  // read access
    shape.setModifiedFlags(0);
    shape.channel("position");
    EXPECT_EQ(0u, shape.modifiedFlags());
}

TEST(ShapeFlags, LayoutPassesAndHooksLeaveTheFlagsAsTheyWere) {
    KindShape shape("Particle");
    shape.createChannel1f("position", 0);
    shape.createChannel1f("velocity", 0);
    shape.setModifiedFlags(Cb::kDistanceModified);
    shape.compactBlocks();
    shape.updateStep(Cb::FrameTime(), anyBody());
    EXPECT_EQ(uint32_t(Cb::kDistanceModified), shape.modifiedFlags());
}

TEST(ShapeChannels, HasChannelsChecksEveryNameAndTheTypeCode) {
    Cb::PointShape shape(true);
    shape.createChannel1i("velocity", 0);
    EXPECT_FALSE(shape.hasChannels("position velocity", Cb::kTypeVec3f));
    EXPECT_TRUE(shape.hasChannels("position\tvelocity", Cb::kTypeAny));
    EXPECT_TRUE(shape.hasChannels("  Point.position  ", Cb::kTypeVec3f));
    EXPECT_FALSE(shape.hasChannels("position id", Cb::kTypeAny));
    EXPECT_FALSE(shape.hasChannels("", Cb::kTypeAny));
    EXPECT_FALSE(shape.hasChannels(" \t ", Cb::kTypeAny));
}

TEST(ShapeChannels, ExistingNamesAreRefusedAndTheListStaysUnchanged) {
    Cb::PointShape shape(true);
    EXPECT_EQ("Cannot create channel 'position' in Point-Shape: channel already exists (of type buffer::vec3f)",
              messageOf([&] { shape.createChannel3f("position", {1, 1, 1}); }));
    EXPECT_EQ("Cannot create channel 'Point.position' in Point-Shape: channel already exists (of type "
              "buffer::vec3f)",
              messageOf([&] { shape.createChannel1i("Point.position", 0); }));
    EXPECT_EQ("Cannot set channel name 'a b': Spaces are  not allowed in channel names",
              messageOf([&] { shape.createChannel1f("a b", 0); }));
    EXPECT_EQ(1, shape.channelCount());
    // A qualified name is kept whole as the channel's name.
    shape.createChannel1f("Point.area", 0);
    EXPECT_EQ("Point.area", shape.channel(1)->name());
}

TEST(ShapeChannels, ReplaceAddMissingAndRemove) {
    auto a = pointsWith({{1, 1, 1}, {2, 2, 2}});
    Cb::PointShape b(true);
    b.createChannel1f("area", 5);
    b.createChannel1i("id", 0);
    ChannelHandle area = b.channel("area");
    EXPECT_EQ("Cannot replace channel 'area': channel does not exist.", messageOf([&] { a->replaceChannel(area); }));

    a->addMissingChannels(b);
    ASSERT_EQ(3, a->channelCount());
    EXPECT_EQ("area", a->channel(1)->name());
    EXPECT_EQ("id", a->channel(2)->name());
    // Both followed a's two points, which gave each a copy of its own.
    EXPECT_EQ(2u, a->channel("area")->size());
    EXPECT_EQ(0u, b.channel("area")->size());

    a->replaceChannel(area);
    EXPECT_TRUE(a->channel("area") == b.channel("area"));
    EXPECT_EQ(3, a->channel("area").refCount());  // a, b and the local handle

    a->removeChannel("Point.id");
    a->removeChannel("nothing");
    EXPECT_EQ(2, a->channelCount());
    EXPECT_EQ(-1, a->indexOf("id"));
}

TEST(ShapeChannels, SyncDeferralLeavesNewChannelsUnsized) {
    auto shape = pointsWith({{0, 0, 0}, {1, 1, 1}});
    shape->setSyncDeferral(1);
    shape->createChannel1f("later", 0);
    EXPECT_EQ(0u, shape->channel("later")->size());
    shape->setSyncDeferral(0);
    shape->syncChannels();
    EXPECT_EQ(2u, shape->channel("later")->size());
}

TEST(ShapeCopyOnWrite, CopiesShareUntilOneSideWrites) {
    auto original = pointsWith({{1, 2, 3}});
    std::unique_ptr<Cb::Shape> copy(original->clone());
    EXPECT_EQ(2, original->channel(0).refCount());
    EXPECT_EQ(0u, copy->writeList().size());

    // Read access does not detach.
    copy->channel("position");
    copy->channelAs<BufferChannel<zt::vec3f>>("position");
    EXPECT_TRUE(copy->channel(0) == original->channel(0));

    copy->mutableChannelAs<BufferChannel<zt::vec3f>>("position")->data()[0] = {9, 9, 9};
    EXPECT_FALSE(copy->channel(0) == original->channel(0));
    EXPECT_EQ(1, original->channel(0).refCount());
    EXPECT_EQ(1.0f, original->channel("position")->component(0, 0));
    EXPECT_EQ(9.0f, copy->channel("position")->component(0, 0));

    // Growing the copy leaves the original's size alone.
    static_cast<Cb::PointShape&>(*copy).resizeElements(5);
    EXPECT_EQ(1, original->size());
    EXPECT_EQ(5, copy->size());
}

TEST(ShapeCopyOnWrite, ACopyKeepsFlagsButNotTheWriteListOrDeferral) {
    auto original = pointsWith({{1, 2, 3}});
    original->setModifiedFlags(5);
    original->setSyncDeferral(3);
    modeltest::bytesWritten([&](Cb::ZtpWriter& w) { original->write(w, "*", false); });
    ASSERT_EQ(1u, original->writeList().size());
    std::unique_ptr<Cb::Shape> copy(original->clone());
    EXPECT_EQ(5u, copy->modifiedFlags());
    EXPECT_EQ(0u, copy->syncDeferral());
    EXPECT_TRUE(copy->writeList().empty());
}

TEST(ShapeHooks, RunInDescendingPriorityKeepingListOrderAmongEquals) {
    std::vector<std::string> calls;
    KindShape shape("Field");
    int i = 0;
    for (int priority : {1, 10, 1, 5, 10}) {
        ChannelHandle handle(new HookChannel(priority, &calls));
        handle->setName("c" + std::to_string(i++) + "p" + std::to_string(priority));
        shape.appendChannel(handle);
    }
    std::unique_ptr<Cb::Shape> copy(shape.clone());
    shape.updateStep(Cb::FrameTime(), anyBody());
    EXPECT_EQ((std::vector<std::string>{"c1p10", "c4p10", "c3p5", "c0p1", "c2p1"}), calls);
    // The hooks got detached channels: the copy's are other objects now.
    for (int k = 0; k < shape.channelCount(); ++k) EXPECT_FALSE(shape.channel(k) == copy->channel(k));
}

TEST(ShapeRecord, ReadAppendsChannelsAndRefusesRepeatedNames) {
    auto source = pointsWith({{1, 2, 3}, {4, 5, 6}});
    source->createChannel1i("id", 7);
    const auto bytes = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { source->write(w, "*", true); });

    ReaderOver file(bytes);
    EXPECT_EQ("Point", Cb::readString(file.reader().stream()));
    Cb::PointShape back(false);
    back.read(file.reader());
    EXPECT_TRUE(file.atEnd());
    ASSERT_EQ(2, back.channelCount());
    EXPECT_EQ("position", back.channel(0)->name());
    EXPECT_EQ(6.0f, back.channel("position")->component(1, 2));
    EXPECT_EQ("id", back.channel(1)->name());
    EXPECT_EQ(2u, back.channel("id")->size());
    EXPECT_EQ(Cb::md5Of(source->channelAs<BufferChannel<zt::vec3f>>("position")->data(), 24), back.masterDigest());

    // The same records again: the first is refused, nothing after it is read.
    ReaderOver again(bytes);
    Cb::readString(again.reader().stream());
    EXPECT_EQ("Cannot create channel 'position' in Point-Shape: channel already exists (of type buffer::vec3f)",
              messageOf([&] { back.read(again.reader()); }));
    EXPECT_EQ(2, back.channelCount());
}

TEST(ShapeRecord, NegativeAndAbsurdCountsReadNoChannel) {
    Cb::PointShape shape(false);
    ByteBuilder negative;
    negative.i32(-5);
    ReaderOver a(negative);
    shape.read(a.reader());
    EXPECT_EQ(0, shape.channelCount());

    ByteBuilder absurd;
    absurd.i32(0x7fffffff);
    ReaderOver b(absurd);
    EXPECT_EQ("Error reading ztp value", messageOf([&] { shape.read(b.reader()); }));
    EXPECT_EQ(0, shape.channelCount());
}

// A shape of kind `kind` holding float channels of the given names, each
// with one element.
std::unique_ptr<KindShape> shapeOf(const std::string& kind, std::initializer_list<const char*> names) {
    auto shape = std::make_unique<KindShape>(kind);
    for (const char* name : names) shape->createChannel1f(name, 0);
    for (int i = 0; i < shape->channelCount(); ++i)
        static_cast<Cb::BufferChannelBase*>(shape->channel(i).get())->resize(1);
    return shape;
}

std::vector<std::string> writtenNames(const Cb::Shape& shape) {
    std::vector<std::string> names;
    for (const Cb::Channel* channel : shape.writeList()) names.push_back(channel->name());
    return names;
}

TEST(ShapeRecord, SelectionWritesOnlyThisShapesNamedChannels) {
    auto shape = shapeOf("Particle", {"position", "distance", "velocity"});
    testsupport::CaptureStderr capture;
    const auto bytes = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { shape->write(w, "position Field.distance", false); });
    EXPECT_EQ("Corix ** WARNING ** : Skipping channel 'Field.distance': cannot be written by Particle-Shape\n",
              capture.finish());
    EXPECT_EQ((std::vector<std::string>{"position"}), writtenNames(*shape));

    ReaderOver file(bytes);
    EXPECT_EQ("Particle", Cb::readString(file.reader().stream()));
    KindShape back("Particle");
    back.read(file.reader());
    EXPECT_TRUE(file.atEnd());
    ASSERT_EQ(1, back.channelCount());
    EXPECT_EQ("position", back.channel(0)->name());
}

TEST(ShapeRecord, MissingChannelsAreReportedWithTheWritersFile) {
    auto shape = shapeOf("Point", {"position", "area"});
    testsupport::CaptureStderr capture;
    std::string path;
    modeltest::bytesWritten([&](Cb::ZtpWriter& w) { shape->write(w, "area  Point.nothing Point.position", false); },
                            &path);
    EXPECT_EQ("Corix ** WARNING ** : Channel 'Point.nothing' not found in Point-Shape: it will not be written to " +
                  path + "\n",
              capture.finish());
    EXPECT_EQ((std::vector<std::string>{"position", "area"}), writtenNames(*shape));  // list order
}

TEST(ShapeRecord, AStarSelectsEveryChannel) {
    auto shape = shapeOf("Point", {"position", "area", "id"});
    testsupport::CaptureStderr capture;
    const auto all = modeltest::bytesWritten([&](Cb::ZtpWriter& w) { shape->write(w, "*", false); });
    EXPECT_EQ(3u, shape->writeList().size());
    modeltest::bytesWritten([&](Cb::ZtpWriter& w) { shape->write(w, "area *", false); });
    EXPECT_EQ(3u, shape->writeList().size());
    modeltest::bytesWritten([&](Cb::ZtpWriter& w) { shape->write(w, "", false); });
    EXPECT_EQ(0u, shape->writeList().size());
    EXPECT_EQ("", capture.finish());

    ByteBuilder head;
    head.str("Point").i32(3).str("buffer::float").str("position");
    EXPECT_EQ(testsupport::toHex(head.data()),
              testsupport::toHex(std::vector<uint8_t>(all.begin(), all.begin() + std::ptrdiff_t(head.size()))));
}

TEST(ShapeMemory, ShapeLineThenEveryChannelsLine) {
    testsupport::TempDir dir;
    auto shape = shapeOf("Edge", {"index", "w"});
    ASSERT_TRUE(Cb::openLogFile(dir.file("log.txt")));
    shape->printMemory();
    ASSERT_TRUE(Cb::closeLogFile());
    EXPECT_EQ(
        "         Edge-shape: 8e-06 MB\n"
        "            Channel index: 4e-06 MB\n"
        "            Channel w: 4e-06 MB\n",
        testsupport::readText(dir.file("log.txt")));
}

TEST(ShapeBase, RefusesTwoAndFourIntChannels) {
    BareShape shape;
    EXPECT_EQ("2i channels not supported in a Bare-Shape", messageOf([&] { shape.createChannel2i("e", {0, 0}); }));
    EXPECT_EQ("4i channels not supported in a Bare-Shape",
              messageOf([&] { shape.createChannel4i("t", {0, 0, 0, 0}); }));
    EXPECT_EQ("", shape.positionSource());
    EXPECT_EQ("A channel handle without a channel cannot join a Bare-Shape",
              messageOf([&] { shape.appendChannel(ChannelHandle()); }));
    EXPECT_EQ("A channel handle without a channel cannot join a Bare-Shape",
              messageOf([&] { shape.replaceChannel(ChannelHandle()); }));
}

}  // namespace
