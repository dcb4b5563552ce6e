// The channel base and the channel type registry: names, the registry's
// refusals and type tests, and channel records as readChannel takes them.
#include <gtest/gtest.h>

#include <memory>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "ModelTestSupport.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"

using modeltest::ReaderOver;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

const std::vector<std::string> kBufferNames = {"buffer::int",   "buffer::float", "buffer::vec2f",
                                               "buffer::vec2i", "buffer::vec3f", "buffer::vec3i",
                                               "buffer::vec4f", "buffer::vec4i"};

// A subclass of a registered buffer class.
class ForeignChannel : public Cb::BufferChannel<float> {};

TEST(ChannelName, SpaceIsRefusedWithTheTwoSpaceMessageAndKeepsTheOldName) {
    Cb::BufferChannel<int> channel;
    channel.setName("old");
    EXPECT_EQ("Cannot set channel name 'a b': Spaces are  not allowed in channel names",
              messageOf([&] { channel.setName("a b"); }));
    EXPECT_EQ("old", channel.name());
    channel.setName("a\tb");
    EXPECT_EQ("a\tb", channel.name());
    channel.setName("");
    EXPECT_EQ("", channel.name());
}

TEST(ChannelCopy, KeepsNameAndStatisticsButClearsTheSuppressionFlag) {
    Cb::BufferChannel<float> channel;
    channel.setName("density");
    channel.setStoredStatistics(7, {1, 2, 3}, {4, 5, 6}, {2, 3, 4});
    channel.setDeferredLoadSuppressed(1);
    std::unique_ptr<Cb::Channel> copy(channel.clone());
    EXPECT_EQ("density", copy->name());
    EXPECT_EQ(7u, copy->storedCount());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), copy->storedMin());
    EXPECT_EQ((zt::vec3f{4, 5, 6}), copy->storedMax());
    EXPECT_EQ((zt::vec3f{2, 3, 4}), copy->storedMean());
    EXPECT_EQ(0u, copy->deferredLoadSuppressed());
}

TEST(ChannelRegistry, CreatesEveryBufferNameWithAnEmptyNameAndZeroDefault) {
    for (const std::string& name : kBufferNames) {
        std::unique_ptr<Cb::Channel> channel(Cb::createChannel(name));
        EXPECT_EQ(name, channel->typeName());
        EXPECT_EQ("", channel->name());
        EXPECT_TRUE(channel->empty());
        EXPECT_EQ((zt::vec3f{0, 0, 0}), channel->defaultValue3f());
        EXPECT_TRUE(Cb::isChannelType(channel.get(), name));
        EXPECT_TRUE(Cb::isChannelType(channel.get(), "buffer::base"));
    }
}

TEST(ChannelRegistry, Int64BufferIsWrittenUnderItsNameButNeverRegistered) {
    Cb::BufferChannel<int64_t> channel;
    EXPECT_EQ("buffer::int64", channel.typeName());
    EXPECT_EQ(Cb::kTypeInt64, channel.typeCode());
    EXPECT_EQ("Unknown channel type: 'buffer::int64'", messageOf([] { Cb::createChannel("buffer::int64"); }));
    EXPECT_EQ("Unknown channel type: 'buffer::int64'",
              messageOf([&] { Cb::isChannelType(&channel, "buffer::int64"); }));
    EXPECT_TRUE(Cb::isChannelType(&channel, "buffer::base"));
}

TEST(ChannelRegistry, BaseNamesAreTestsOnlyAndUnknownNamesThrow) {
    EXPECT_EQ("Unknown channel type: 'buffer::base'", messageOf([] { Cb::createChannel("buffer::base"); }));
    EXPECT_EQ("Unknown channel type: 'Buffer::int'", messageOf([] { Cb::createChannel("Buffer::int"); }));
    Cb::BufferChannel<int> channel;
    EXPECT_EQ("Unknown channel type: 'nothing'", messageOf([&] { Cb::isChannelType(&channel, "nothing"); }));
    // Exactly the buffer names and their base are registered by this list.
    for (const auto& [name, test] : Cb::channelTestTable()) {
        if (name.rfind("buffer::", 0) != 0) continue;
        EXPECT_TRUE(name == "buffer::base" || Cb::channelCreateTable().count(name)) << name;
    }
    EXPECT_EQ(0u, Cb::channelCreateTable().count("buffer::base"));
}

TEST(ChannelRegistry, TypeTestsFollowTheClassTreeAndKeepBranchesApart) {
    Cb::BufferChannel<int> ints;
    ForeignChannel derived;
    modeltest::OtherBranchChannel other;
    EXPECT_FALSE(Cb::isChannelType(&ints, "buffer::float"));
    EXPECT_FALSE(Cb::isChannelType(&ints, "buffer::vec3i"));
    EXPECT_TRUE(Cb::isChannelType(&derived, "buffer::float"));  // a downcast, not an exact type
    EXPECT_FALSE(Cb::isChannelType(&other, "buffer::base"));
    EXPECT_FALSE(Cb::isChannelType(&other, "buffer::float"));
    EXPECT_FALSE(Cb::isChannelType(nullptr, "buffer::base"));

    Cb::registerChannelClass<modeltest::OtherBranchChannel>();
    EXPECT_TRUE(Cb::isChannelType(&other, "test::other"));
    EXPECT_FALSE(Cb::isChannelType(&ints, "test::other"));
    Cb::channelCreateTable().erase("test::other");
    Cb::channelTestTable().erase("test::other");
}

TEST(ChannelRegistry, SecondRegistrationKeepsTheFirstAndWarns) {
    testsupport::CaptureStderr capture;
    Cb::registerChannelType("buffer::int", &Cb::newChannelOf<Cb::BufferChannel<float>>,
                            &Cb::isChannelOf<Cb::BufferChannel<float>>);
    EXPECT_EQ("Corix ** WARNING ** : Skipping channel type 'buffer::int': already registered.\n", capture.finish());
    std::unique_ptr<Cb::Channel> channel(Cb::createChannel("buffer::int"));
    EXPECT_EQ("buffer::int", channel->typeName());
}

TEST(ChannelRegistry, ReleaseEmptiesBothTables) {
    Cb::releaseChannelTypes();
    EXPECT_TRUE(Cb::channelCreateTable().empty());
    EXPECT_TRUE(Cb::channelTestTable().empty());
    EXPECT_EQ("Unknown channel type: 'buffer::int'", messageOf([] { Cb::createChannel("buffer::int"); }));
    Cb::registerChannelTypes();
    EXPECT_NO_THROW(delete Cb::createChannel("buffer::int"));
}

// A buffer::int record holding one element, written plain.
ByteBuilder intRecord(bool withStatistics, const std::string& name = "count") {
    ByteBuilder b;
    b.str("buffer::int").str(name);
    if (withStatistics) b.u64(99).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6).f32(7).f32(8).f32(9);
    b.i32(-1);                  // default
    if (withStatistics)
        b.u8(0).i64(1).i32(42);  // compressed array, plain branch
    else
        b.u32(4).u32(0).i32(42);  // legacy array, raw
    return b;
}

TEST(ReadChannel, Version12AndLaterReadTheStoredCountAndStatistics) {
    ReaderOver file(intRecord(true), 14);
    Cb::CbRefPtr<Cb::Channel> channel = Cb::readChannel(file.reader());
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(1, channel.refCount());
    EXPECT_EQ("count", channel->name());
    EXPECT_EQ(99u, channel->storedCount());  // as stored, not the live count
    EXPECT_EQ((zt::vec3f{1, 2, 3}), channel->storedMin());
    EXPECT_EQ((zt::vec3f{4, 5, 6}), channel->storedMax());
    EXPECT_EQ((zt::vec3f{7, 8, 9}), channel->storedMean());
    EXPECT_EQ(1u, channel->size());
    EXPECT_EQ(42.0f, channel->component(0, 0));
    EXPECT_EQ((zt::vec3f{-1, -1, -1}), channel->defaultValue3f());
}

TEST(ReadChannel, Version11HasNoStatisticsAndReadsThemAsZero) {
    ReaderOver file(intRecord(false), 11);
    Cb::CbRefPtr<Cb::Channel> channel = Cb::readChannel(file.reader());
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(0u, channel->storedCount());
    EXPECT_EQ((zt::vec3f{0, 0, 0}), channel->storedMin());
    EXPECT_EQ((zt::vec3f{0, 0, 0}), channel->storedMax());
    EXPECT_EQ((zt::vec3f{0, 0, 0}), channel->storedMean());
    EXPECT_EQ(42.0f, channel->component(0, 0));
}

TEST(ReadChannel, BadRecordsEndInErrors) {
    ByteBuilder unknown;
    unknown.str("buffer::int64").str("ids");
    ReaderOver a(unknown);
    EXPECT_EQ("Unknown channel type: 'buffer::int64'", messageOf([&] { Cb::readChannel(a.reader()); }));

    ReaderOver spaced(intRecord(true, "a b"));
    EXPECT_EQ("Cannot set channel name 'a b': Spaces are  not allowed in channel names",
              messageOf([&] { Cb::readChannel(spaced.reader()); }));

    // Cut inside the statistics, and an element count far beyond the file.
    const std::vector<uint8_t> whole = intRecord(true).data();
    ReaderOver cut(std::vector<uint8_t>(whole.begin(), whole.begin() + 30));
    EXPECT_EQ("Error reading ztp value", messageOf([&] { Cb::readChannel(cut.reader()); }));
    ByteBuilder huge;
    huge.str("buffer::vec4f").str("h").u64(0).f32(0).f32(0).f32(0).f32(0).f32(0).f32(0).f32(0).f32(0).f32(0);
    huge.f32(0).f32(0).f32(0).f32(0).u8(0).i64(int64_t(1) << 60);
    ReaderOver absurd(huge);
    EXPECT_EQ("Error reading array data", messageOf([&] { Cb::readChannel(absurd.reader()); }));
}

}  // namespace
