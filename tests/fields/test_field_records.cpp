// Field channel records: the exact bytes of a written channel, round trips of
// every field class (compressed and plain) through a file, the attribute
// layouts of older versions, lazy loading of the values, and hostile records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "ByteBuilder.h"
#include "FieldTestSupport.h"
#include "MessageOf.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/model/ChannelRegistry.h"

using Cb::FieldChannel1f;
using Cb::FieldChannel1i;
using Cb::FieldChannel3f;
using Cb::FieldChannelBase;
using fieldtest::ScratchFile;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

FieldChannelBase& fieldOf(Cb::CbRefPtr<Cb::Channel>& handle) {
    return dynamic_cast<FieldChannelBase&>(*handle.mutableGet());
}

// Fine and coarse values of every component field, read through component().
std::vector<float> valuesOf(const Cb::Channel& channel, int components, int64_t fine, int64_t coarse) {
    std::vector<float> values;
    for (int c = 0; c < components; ++c) {
        for (int64_t i = 0; i < fine; ++i) values.push_back(channel.component(i, c));
        for (int64_t s = 1; s < coarse; ++s) values.push_back(channel.component(-s, c));
    }
    return values;
}

// Distinct values in every fine and coarse voxel of every component field.
template <class Field>
void fillDistinct(Field& field, int c) {
    for (int64_t i = 0; i < field.fineValues().count(); ++i) field.at(i) = decltype(field.background())(i * 3 + c);
    for (int64_t s = 0; s < field.coarseValues().count(); ++s) field.at(-s) = decltype(field.background())(-s - c);
}

void setAttributes(FieldChannelBase& channel, int32_t mode, unsigned flagBits, float attribute) {
    channel.setUpdateMode(mode);
    for (int f = 0; f < Cb::kFieldFlagCount; ++f) channel.setFlag(Cb::FieldFlag(f), (flagBits >> f) & 1);
    channel.setAttribute(attribute);
}

void expectAttributes(const FieldChannelBase& channel, int32_t mode, unsigned flagBits, float attribute) {
    EXPECT_EQ(mode, channel.updateMode());
    for (int f = 0; f < Cb::kFieldFlagCount; ++f)
        EXPECT_EQ(bool((flagBits >> f) & 1), channel.flag(Cb::FieldFlag(f))) << "flag " << f;
    EXPECT_EQ(attribute, channel.attribute());
}

zt::vec3f all3(float s) { return {s, s, s}; }

// A float channel named `name` on twoTileLayout(N) with distinct values.
FieldChannel1f distinctFloats(uint32_t N, const std::string& name, float background) {
    auto layout = fieldtest::twoTileLayout(N);
    FieldChannel1f c(background);
    c.setName(name);
    c.updateLayout(*layout);
    fillDistinct(c.field(), 0);
    return c;
}

// The seven attribute ints and the float, all 0.
void zeroAttributes(ByteBuilder& b) { b.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).f32(0); }

// A layout of tile size 1: fine tiles (0,0,0), (1,0,0), one coarse tile.
std::unique_ptr<zt::tile_layout3> tinyLayout() {
    auto layout = std::make_unique<zt::tile_layout3>(1.0f, 1);
    layout->addTile(0, 0, 0, false);
    layout->addTile(1, 0, 0, false);
    layout->addCoarseTile(5, 5, 5, nullptr);
    return layout;
}

}  // namespace

TEST(FieldRecordWrite, IsTheHeaderSevenIntsTheFloatAndOneValuesRecord) {
    auto layout = tinyLayout();
    FieldChannel1i c(7);
    c.setName("n");
    c.updateLayout(*layout);
    c.field().at(0) = 3;
    c.field().at(1) = 5;
    c.field().at(-1) = 9;
    setAttributes(c, 1, 0b10101, 0.5f);
    ScratchFile file;
    file.writeChannel(c, false);

    ByteBuilder expected;
    fieldtest::channelHeader(expected, "field::int", "n", 16, 2, 3, 5, 4);
    expected.i32(1).i32(1).i32(0).i32(0).i32(1).i32(0).i32(1).f32(0.5f);
    expected.i32(7).i32(0).i64(int64_t(expected.size()) + 8 + 9 + 8 + 9 + 8);
    expected.u8(0).i64(2).i32(3).i32(5);
    expected.u8(0).i64(2).i32(7).i32(9);
    EXPECT_EQ(testsupport::toHex(expected.data()), testsupport::toHex(testsupport::readBytes(file.path())));
}

TEST(FieldRecordRoundTrip, EveryClassKeepsValuesAttributesAndBackgrounds) {
    // Tile size 16: 8192 fine values, so compressed arrays hold several pieces.
    auto layout = fieldtest::twoTileLayout(16);
    const int64_t fine = layout->fineVoxelCount(), coarse = layout->coarseCount();
    for (const bool compress : {false, true}) {
        for (const char* type : {"field::int", "field::int64", "field::float", "field::vec3f", "field::particle-count",
                                 "field::fluid-distance", "field::solid-distance"}) {
            SCOPED_TRACE(std::string(type) + (compress ? " compressed" : " plain"));
            Cb::CbRefPtr<Cb::Channel> handle(Cb::createChannel(type));
            handle->setName("c");
            FieldChannelBase& channel = fieldOf(handle);
            channel.updateLayout(*layout);
            const int components = channel.typeCode() == Cb::kTypeVec3f ? 3 : 1;
            if (auto* f = dynamic_cast<FieldChannel1f*>(&channel)) fillDistinct(f->field(), 0);
            if (auto* i = dynamic_cast<FieldChannel1i*>(&channel)) fillDistinct(i->field(), 0);
            if (auto* l = dynamic_cast<Cb::FieldChannel1i64*>(&channel)) fillDistinct(l->field(), 0);
            if (auto* v = dynamic_cast<FieldChannel3f*>(&channel)) {
                for (int c = 0; c < 3; ++c) {
                    fillDistinct(v->field(c), c);
                    v->field(c).setBackground(float(c) - 4.5f);
                    v->field(c).setSampleSet(c + 2);
                }
            }
            if (auto* plain = dynamic_cast<FieldChannel1f*>(&channel); plain && type == std::string("field::float"))
                plain->field().setBackground(-0.75f);
            setAttributes(channel, 3, 0b11010, -1.5f);

            ScratchFile file;
            file.writeChannel(channel, compress);
            auto back = file.readChannel();
            FieldChannelBase& read = fieldOf(back);
            EXPECT_EQ(type, read.typeName());
            EXPECT_EQ("c", read.name());
            EXPECT_EQ(uint64_t(fine), read.storedCount());
            EXPECT_EQ(channel.min3f(), read.storedMin());
            EXPECT_EQ(channel.mean3f(), read.storedMean());
            expectAttributes(read, 3, 0b11010, -1.5f);
            EXPECT_EQ(channel.defaultValue3f(), read.defaultValue3f());
            EXPECT_FALSE(read.loaded());
            EXPECT_EQ(valuesOf(channel, components, fine, coarse), valuesOf(read, components, fine, coarse));
            EXPECT_TRUE(read.loaded());
            if (auto* v = dynamic_cast<FieldChannel3f*>(&read)) {
                for (int c = 0; c < 3; ++c) EXPECT_EQ(c + 2, v->field(c).sampleSet());
            }
            if (auto* f = dynamic_cast<FieldChannel1f*>(&read)) {
                EXPECT_EQ(dynamic_cast<FieldChannel1f&>(channel).field().sampleSet(), f->field().sampleSet());
            }
        }
    }
}

TEST(FieldRecordRoundTrip, AChannelWrittenBeforeItsValuesLoadedCarriesThem) {
    FieldChannel1f c = distinctFloats(2, "p", 1.0f);
    ScratchFile first("first.ztp"), second("second.ztp");
    first.writeChannel(c, true);
    auto lazy = first.readChannel();
    second.writeChannel(*lazy.mutableGet(), false);
    auto again = second.readChannel();
    EXPECT_EQ(valuesOf(c, 1, 16, 35), valuesOf(*again, 1, 16, 35));
}

TEST(FieldRecordVersions, OlderFilesCarryFewerAttributes) {
    struct Case {
        int32_t version;
        unsigned flags;  // what the reader keeps
        float attribute;
    };
    for (const Case& k : {Case{7, 0, 0.0f}, Case{8, 0b00111, 0.0f}, Case{11, 0b11111, 2.5f}, Case{16, 0b11111, 2.5f}}) {
        SCOPED_TRACE(k.version);
        ByteBuilder b;
        fieldtest::channelHeader(b, "field::float", "f", k.version);
        if (k.version >= 8) b.i32(3).i32(-1).i32(12345).i32(2).i32(1);  // mode, A, ignored, B, C
        if (k.version >= 11) b.i32(1).i32(7).f32(2.5f);                  // D, E, float
        fieldtest::fieldRecord<float>(b, 6.0f, 1, {1, 2}, {0, 4});
        b.str("next");
        ScratchFile file;
        file.write(b);
        auto reader = file.open(k.version);
        auto handle = Cb::readChannel(*reader);
        EXPECT_EQ("next", Cb::readString(reader->stream()));  // the values were skipped
        FieldChannelBase& f = fieldOf(handle);
        expectAttributes(f, k.version >= 8 ? 3 : 0, k.flags, k.attribute);
        EXPECT_EQ(uint32_t(k.version), f.fileVersion());
        ASSERT_NE(nullptr, f.fileName());
        EXPECT_EQ(file.path(), *f.fileName());
        EXPECT_EQ(all3(6.0f), f.defaultValue3f());
        EXPECT_EQ(2.0f, f.component(1, 0));
        EXPECT_EQ(4.0f, f.component(-1, 0));
        EXPECT_EQ(1, dynamic_cast<FieldChannel1f&>(f).field().sampleSet());
    }
}

TEST(FieldLazyLoading, ValuesStayOnDiskUntilTheFirstComponent) {
    auto layout = fieldtest::twoTileLayout(4);
    FieldChannel3f v({0, 0, 0});
    v.setName("v");
    v.updateLayout(*layout);
    for (int c = 0; c < 3; ++c) fillDistinct(v.field(c), c);
    ScratchFile file;
    file.writeChannel(v, true);
    auto handle = file.readChannel();
    const Cb::Channel& read = *handle;
    const auto& lazy = dynamic_cast<const FieldChannelBase&>(read);
    EXPECT_FALSE(lazy.loaded());
    EXPECT_EQ(0.0f, lazy.memoryMB());  // nothing in memory yet
    EXPECT_EQ(uint64_t(layout->fineVoxelCount()), lazy.storedCount());
    EXPECT_FALSE(lazy.loaded());

    // Gone meanwhile: the load fails, and fails again while the file is away.
    const std::string away = file.path() + ".away";
    ASSERT_EQ(0, std::rename(file.path().c_str(), away.c_str()));
    const std::string missing = "read_ztp(" + file.path() + ") failed: Cannot open file: No such file or directory";
    EXPECT_EQ(missing, messageOf([&] { read.component(5, 1); }));
    EXPECT_FALSE(lazy.loaded());
    EXPECT_EQ(missing, messageOf([&] { read.sample({0.5f, 0.5f, 0.5f}, layout.get(), 0); }));
    // Back again: the next access loads.
    ASSERT_EQ(0, std::rename(away.c_str(), file.path().c_str()));
    EXPECT_EQ(5.0f * 3 + 1, read.component(5, 1));
    EXPECT_TRUE(lazy.loaded());
    EXPECT_GT(lazy.memoryMB(), 0.0f);
    // Loaded values no longer need the file.
    ASSERT_EQ(0, std::remove(file.path().c_str()));
    EXPECT_EQ(7.0f * 3 + 2, read.component(7, 2));
}

TEST(FieldLazyLoading, CopiesOfAnUnloadedChannelLoadOnTheirOwn) {
    FieldChannel1f c = distinctFloats(2, "", 0.0f);
    ScratchFile file;
    file.writeChannel(c, false);
    auto handle = file.readChannel();
    std::unique_ptr<Cb::Channel> copy(handle->clone());
    EXPECT_FALSE(dynamic_cast<FieldChannelBase&>(*copy).loaded());
    EXPECT_EQ(12.0f, copy->component(4, 0));
    EXPECT_FALSE(fieldOf(handle).loaded());
    // A channel cleared before it loaded has nothing to load.
    fieldOf(handle).clear();
    EXPECT_TRUE(fieldOf(handle).loaded());
    EXPECT_EQ(0u, handle->size());
}

TEST(FieldHostileRecords, EndPositionsOutsideTheRecordAreRefusedOnRead) {
    for (const int64_t end : {int64_t(-1), int64_t(3), int64_t(1) << 40}) {
        SCOPED_TRACE(end);
        ByteBuilder b;
        fieldtest::channelHeader(b, "field::int", "i", 16);
        zeroAttributes(b);
        fieldtest::fieldRecord<int>(b, 0, 0, {1}, {0}, end);
        ScratchFile file;
        file.write(b);
        const std::string message = messageOf([&] { file.readChannel(); });
        EXPECT_EQ(0u, message.find("Corrupt field values record in " + file.path() + ": end position ")) << message;
    }
    ByteBuilder b;
    fieldtest::channelHeader(b, "field::float", "f", 16);
    zeroAttributes(b);
    fieldtest::fieldRecord<float>(b, 0, 9, {1}, {0});
    ScratchFile file;
    file.write(b);
    EXPECT_EQ("Invalid sample set 9", messageOf([&] { file.readChannel(); }));
}

TEST(FieldHostileRecords, ValueCountsTheFileCannotHoldFailTheLoadCleanly) {
    ByteBuilder b;
    fieldtest::channelHeader(b, "field::float", "f", 16);
    zeroAttributes(b);
    b.f32(0).i32(0);
    const size_t endAt = b.size();
    b.i64(0);
    b.u8(0).i64(int64_t(1) << 60).f32(1);  // a plain array announcing 2^60 floats
    const int64_t end = int64_t(b.size());
    std::vector<uint8_t> bytes = b.data();
    std::memcpy(bytes.data() + endAt, &end, 8);
    ScratchFile file;
    testsupport::writeFile(file.path(), bytes);
    auto handle = file.readChannel();
    EXPECT_EQ("Error reading array data", messageOf([&] { handle->component(0, 0); }));
    EXPECT_FALSE(fieldOf(handle).loaded());
    EXPECT_EQ("Error reading array data", messageOf([&] { handle->size(); }));
}

TEST(FieldHostileRecords, ValuesRunningPastTheirRecordFailTheLoad) {
    ByteBuilder b;
    fieldtest::channelHeader(b, "field::int64", "l", 16);
    zeroAttributes(b);
    // The end position claims the record ends right after the fine values.
    const int64_t end = int64_t(b.size()) + 8 + 4 + 8 + 9 + 8;
    fieldtest::fieldRecord<int64_t>(b, 0, 0, {1}, {0, 2}, end);
    ScratchFile file;
    file.write(b);
    auto handle = file.readChannel();
    EXPECT_EQ("Corrupt field values in " + file.path() + ": the values run past their record's end at " +
                  std::to_string(end),
              messageOf([&] { handle->component(0, 0); }));
    EXPECT_FALSE(fieldOf(handle).loaded());
    EXPECT_EQ(0.0f, handle->memoryMB());
}

TEST(FieldHostileRecords, DamagedPieceTablesFailTheLoad) {
    FieldChannel1f c = distinctFloats(16, "f", 0.0f);
    ScratchFile file;
    file.writeChannel(c, true);
    std::vector<uint8_t> bytes = testsupport::readBytes(file.path());
    // The fine values' piece table starts after the header (type name 4 + 13,
    // name 4 + 2, count 8, statistics 36), the attributes (32), background,
    // sample set and end position (16), and mark, count and chunk size (17).
    const size_t table = 17 + 6 + 8 + 36 + 32 + 16 + 17;
    int64_t values = 0;
    std::memcpy(&values, bytes.data() + table, 8);
    ASSERT_EQ(12, values);  // 8192 values in 3 pieces of four table values
    ASSERT_EQ(0, bytes[table + 8]);  // 96 bytes are too few to compress: a plain array
    bytes[table + 9 + 8 + 8 + 7] ^= 0x40;  // the high byte of the first piece's stored size
    testsupport::writeFile(file.path(), bytes);
    auto handle = file.readChannel();
    const std::string message = messageOf([&] { handle->component(0, 0); });
    EXPECT_EQ(0u, message.find("Error reading compressed array")) << message;
    EXPECT_FALSE(fieldOf(handle).loaded());
}

TEST(FieldHostileRecords, ValuesThatDoNotFitTheLayoutAreNeverIndexedOutside) {
    ByteBuilder b;
    fieldtest::channelHeader(b, "field::float", "f", 16);
    zeroAttributes(b);
    fieldtest::fieldRecord<float>(b, -1.0f, 0, {10, 20, 30}, {});
    ScratchFile file;
    file.write(b);
    auto handle = file.readChannel();
    auto layout = fieldtest::twoTileLayout(2);  // 16 fine values, 35 coarse
    EXPECT_EQ(3u, handle->size());
    EXPECT_EQ("Voxel index 5 is not held by field-channel 'f' (3 fine and 0 coarse values)",
              messageOf([&] { handle->component(5, 0); }));
    EXPECT_EQ("Voxel index -1 is not held by field-channel 'f' (3 fine and 0 coarse values)",
              messageOf([&] { handle->component(-1, 0); }));
    // Voxel (0,1,0) is index 2 and held; (0,0,1) is index 4 and blends as background.
    EXPECT_FLOAT_EQ(0.5f * 10 + 0.5f * 30, handle->sample({0.0f, 0.5f, 0.0f}, layout.get(), 0));
    EXPECT_FLOAT_EQ(0.5f * 10 + 0.5f * -1, handle->sample({0.0f, 0.0f, 0.5f}, layout.get(), 0));
    EXPECT_FLOAT_EQ(-1.0f, handle->sample({1.0f, 1.0f, 1.0f}, layout.get(), 0));
    // Used with the layout, the field takes the layout's size.
    fieldOf(handle).updateLayout(*layout);
    EXPECT_EQ(16u, handle->size());
    EXPECT_EQ(30.0f, handle->component(2, 0));
    EXPECT_EQ(-1.0f, handle->component(15, 0));
    EXPECT_EQ(-1.0f, handle->component(-34, 0));
}
