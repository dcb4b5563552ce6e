// Field channel records: the exact bytes of a written channel, the attribute
// layouts of older versions, lazy loading of the values, and hostile records.
// Round trips of every field class are the writer's tests.
#include <cstdio>
#include <tuple>

#include "ByteBuilder.h"
#include "FieldTestSupport.h"
#include "TempPath.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"

using Cb::FieldChannelBase;
using namespace fieldtest;
using testsupport::ByteBuilder;

namespace {

// A file in a temporary folder; it lives as long as this object.
struct ScratchFile {
    testsupport::TempDir dir;
    std::string path = dir.file("fields.ztp");
    void write(const ByteBuilder& bytes) const { testsupport::writeFile(path, bytes.data()); }
    // Writes the channel (header and record) as the whole file.
    void writeChannel(Cb::Channel& channel, bool compress) const {
        Cb::ZtpWriter writer;
        writer.openStream(path);
        channel.write(writer, compress);
        writer.close();
    }
    Cb::CbRefPtr<Cb::Channel> readChannel() const {
        Cb::ZtpReader reader;
        reader.openStream(path, 16);
        return Cb::readChannel(reader);
    }
};

// A current channel record's head: type name, name, then the count, the
// statistics and the seven attribute ints and float, all 0.
ByteBuilder channelHead(const std::string& typeName, const std::string& name) {
    ByteBuilder b;
    b.str(typeName).str(name).bytes(std::vector<uint8_t>(8 + 36 + 32, 0));
    return b;
}

// A field values record with plain arrays; the end position is where the
// record ends in `b` (the file is `b` itself) unless `end` is given.
template <class T>
void fieldRecord(ByteBuilder& b, T background, int32_t sampleSet, const std::vector<T>& fine,
                 const std::vector<T>& coarse, int64_t end = -2) {
    b.raw(&background, sizeof(T)).i32(sampleSet);
    const int64_t computedEnd = int64_t(b.size()) + 8 + 2 * (1 + 8) + int64_t((fine.size() + coarse.size()) * sizeof(T));
    b.i64(end == -2 ? computedEnd : end);
    b.u8(0).i64(int64_t(fine.size())).raw(fine.data(), fine.size() * sizeof(T));
    b.u8(0).i64(int64_t(coarse.size())).raw(coarse.data(), coarse.size() * sizeof(T));
}

}  // namespace

TEST(FieldRecordAttributes, AreSevenIntsAndAFloatNowAndFewerInOlderFiles) {
    auto layout = twoTileLayout(1);  // two fine voxels, the empty coarse slot and 34 coarse tiles
    Cb::FieldChannel1i c(7);
    c.setName("n");
    c.updateLayout(*layout);
    c.field().at(0) = 3;
    c.field().at(1) = 5;
    c.setUpdateMode(1);
    for (const Cb::FieldFlag f : {Cb::kFieldFlagA, Cb::kFieldFlagC, Cb::kFieldFlagE}) c.setFlag(f, true);
    c.setAttribute(0.5f);
    ScratchFile file;
    file.writeChannel(c, false);
    // The statistics cover the fine values only.
    ByteBuilder expected;
    expected.str("field::int").str("n").u64(2).f32(3).f32(3).f32(3).f32(5).f32(5).f32(5).f32(4).f32(4).f32(4);
    expected.i32(1).i32(1).i32(0).i32(0).i32(1).i32(0).i32(1).f32(0.5f);  // mode, A, 0, B, C, D, E
    fieldRecord<int>(expected, 7, 0, {3, 5}, std::vector<int>(35, 7));
    EXPECT_EQ(testsupport::toHex(expected.data()), testsupport::toHex(testsupport::readBytes(file.path)));

    using Case = std::tuple<int32_t, unsigned, float>;  // version, the flags the reader keeps, the float
    for (const auto& [version, flags, attribute] : {Case{7, 0, 0}, Case{8, 0b00111, 0}, Case{11, 0b11111, 2.5f}}) {
        SCOPED_TRACE(version);
        ByteBuilder b;
        b.str("field::float").str("f");  // no statistics before version 12
        if (version >= 8) b.i32(3).i32(-1).i32(12345).i32(2).i32(1);  // mode, A, ignored, B, C
        if (version >= 11) b.i32(1).i32(7).f32(2.5f);                  // D, E, float
        fieldRecord<float>(b, 6.0f, 1, {1, 2}, {0, 4});
        file.write(b);
        Cb::ZtpReader reader;
        reader.openStream(file.path, version);
        auto handle = Cb::readChannel(reader);
        const auto& f = dynamic_cast<const FieldChannelBase&>(*handle);
        EXPECT_EQ(version >= 8 ? 3 : 0, f.updateMode());
        for (int flag = 0; flag < Cb::kFieldFlagCount; ++flag)
            EXPECT_EQ(bool((flags >> flag) & 1), f.flag(Cb::FieldFlag(flag))) << "flag " << flag;
        EXPECT_EQ(attribute, f.attribute());
        EXPECT_EQ(4.0f, f.component(-1, 0));  // loaded from the file of that version
    }
}

TEST(FieldLoading, ValuesLoadOnFirstUseAndHostileRecordsFailOnReadOrLoadNeverIndexedOutside) {
    auto layout = twoTileLayout(2);  // 16 fine values, 35 coarse
    Cb::FieldChannel3f v({0, 0, 0});
    v.updateLayout(*layout);
    for (int64_t i = 0; i < 16; ++i) v.field(1).at(i) = float(i * 3);
    ScratchFile file;
    file.writeChannel(v, true);
    auto lazy = file.readChannel();
    std::unique_ptr<Cb::Channel> copy(lazy->clone());
    EXPECT_FALSE(dynamic_cast<const FieldChannelBase&>(*lazy).loaded());
    EXPECT_EQ(5.0f * 3, lazy->component(5, 1));
    EXPECT_TRUE(dynamic_cast<const FieldChannelBase&>(*lazy).loaded());
    // Loaded values no longer need the file; the copy, taken before, still does.
    ASSERT_EQ(0, std::remove(file.path.c_str()));
    EXPECT_EQ(7.0f * 3, lazy->component(7, 1));
    EXPECT_EQ("read_ztp(" + file.path + ") failed: Cannot open file: No such file or directory",
              messageOf([&] { copy->component(0, 0); }));
    auto& unloaded = dynamic_cast<FieldChannelBase&>(*copy);
    EXPECT_FALSE(unloaded.loaded());
    // A channel cleared before it loaded has nothing to load.
    unloaded.clear();
    EXPECT_EQ(0u, copy->size());

    // The message of reading the record, or with `onLoad` of the first use.
    const auto failure = [&](const ByteBuilder& bytes, bool onLoad) {
        file.write(bytes);
        if (!onLoad) return messageOf([&] { file.readChannel(); });
        auto handle = file.readChannel();
        const std::string message = messageOf([&] { handle->component(0, 0); });
        EXPECT_FALSE(dynamic_cast<const FieldChannelBase&>(*handle).loaded());
        EXPECT_EQ(message, messageOf([&] { handle->size(); }));  // and again on the next use
        return message;
    };
    const ByteBuilder head = channelHead("field::int", "i");
    const int64_t valuesAt = int64_t(head.size()) + 16, size = valuesAt + 2 * 13;
    for (const int64_t end : {int64_t(-1), int64_t(3), int64_t(1) << 40}) {
        ByteBuilder b = head;
        fieldRecord<int>(b, 0, 0, {1}, {0}, end);
        EXPECT_EQ("Corrupt field values record in " + file.path + ": end position " + std::to_string(end) +
                      " lies outside " + std::to_string(valuesAt) + ".." + std::to_string(size),
                  failure(b, false));
    }
    ByteBuilder set = channelHead("field::float", "f");
    fieldRecord<float>(set, 0, 9, {1}, {0});
    EXPECT_EQ("Invalid sample set 9", failure(set, false));

    ByteBuilder past = channelHead("field::int64", "l");
    const int64_t end = int64_t(past.size()) + 8 + 4 + 8 + 9 + 8;  // right after the fine values
    fieldRecord<int64_t>(past, 0, 0, {1}, {0, 2}, end);
    EXPECT_EQ("Corrupt field values in " + file.path + ": the values run past their record's end at " +
                  std::to_string(end),
              failure(past, true));

    // Values that do not fit the layout are never indexed outside.
    ByteBuilder few = channelHead("field::float", "f");
    fieldRecord<float>(few, -1.0f, 0, {10, 20, 30}, {});
    file.write(few);
    auto handle = file.readChannel();
    // Voxel (0,1,0) is index 2 and held; (0,0,1) is index 4 and blends as background.
    EXPECT_FLOAT_EQ(0.5f * 10 + 0.5f * 30, handle->sample({0.0f, 0.5f, 0.0f}, layout.get(), 0));
    EXPECT_FLOAT_EQ(0.5f * 10 + 0.5f * -1, handle->sample({0.0f, 0.0f, 0.5f}, layout.get(), 0));
    // Used with the layout, the field takes its size.
    dynamic_cast<FieldChannelBase&>(*handle.mutableGet()).updateLayout(*layout);
    EXPECT_EQ(16u, handle->size());
    EXPECT_EQ(-1.0f, handle->component(-34, 0));
}
