// Checked streams, primitives, and the reader and writer that own them.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdio>
#include <type_traits>

#include "IoTestSupport.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"

using iotest::errorOf;
using iotest::InputFile;
using testsupport::ByteBuilder;

// Positions and sizes stay 64-bit all the way down.
static_assert(sizeof(off_t) == 8);
static_assert(std::is_same_v<decltype(std::declval<Cb::ZtpInput&>().tell()), int64_t>);
static_assert(std::is_same_v<decltype(std::declval<Cb::ZtpInput&>().size()), int64_t>);
static_assert(std::is_same_v<decltype(std::declval<Cb::ZtpReader&>().remaining()), int64_t>);

TEST(ZtpPrimitives, WriteLittleEndianBytesWithoutPadding) {
    auto bytes = iotest::bytesWritten([](Cb::ZtpOutput& out) {
        out.writeU8(0xAB);
        out.writeI32(-2);
        out.writeU32(0xABBAABB1u);
        out.writeF32(1.0f);
        out.writeI64(-3);
        out.writeU64(0x0102030405060708ull);
        out.writeF64(2.0);
        out.writeVec2i({{1, -1}});
        out.writeVec3f({{0.5f, 1.0f, -2.0f}});
        out.writeVec4i({{1, 2, 3, 4}});
        out.write(int16_t(0x1234));
    });
    auto expected = ByteBuilder()
                        .hex("AB")
                        .hex("FE FF FF FF")
                        .hex("B1 AB BA AB")
                        .hex("00 00 80 3F")
                        .hex("FD FF FF FF FF FF FF FF")
                        .hex("08 07 06 05 04 03 02 01")
                        .hex("00 00 00 00 00 00 00 40")
                        .hex("01 00 00 00 FF FF FF FF")
                        .hex("00 00 00 3F 00 00 80 3F 00 00 00 C0")
                        .hex("01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00")
                        .hex("34 12");
    EXPECT_EQ(testsupport::toHex(expected.data()), testsupport::toHex(bytes));
}

TEST(ZtpPrimitives, ReadBackEveryKind) {
    InputFile file(ByteBuilder()
                       .u8(7)
                       .i32(-5)
                       .u32(4000000000u)
                       .f32(-1.5f)
                       .i64(int64_t(1) << 40)
                       .u64(~uint64_t(0))
                       .f64(0.25)
                       .i32(3).i32(4)
                       .f32(1).f32(2)
                       .i32(5).i32(6).i32(7)
                       .f32(3).f32(4).f32(5)
                       .i32(8).i32(9).i32(10).i32(11)
                       .f32(6).f32(7).f32(8).f32(9));
    Cb::ZtpInput& in = file.in();
    EXPECT_EQ(7, in.readU8());
    EXPECT_EQ(-5, in.readI32());
    EXPECT_EQ(4000000000u, in.readU32());
    EXPECT_EQ(-1.5f, in.readF32());
    EXPECT_EQ(int64_t(1) << 40, in.readI64());
    EXPECT_EQ(~uint64_t(0), in.readU64());
    EXPECT_EQ(0.25, in.readF64());
    EXPECT_EQ((zt::vec2i{{3, 4}}), in.readVec2i());
    EXPECT_EQ((zt::vec2f{{1, 2}}), in.readVec2f());
    EXPECT_EQ((zt::vec3i{{5, 6, 7}}), in.readVec3i());
    EXPECT_EQ((zt::vec3f{{3, 4, 5}}), in.readVec3f());
    EXPECT_EQ((zt::vec4i{{8, 9, 10, 11}}), in.readVec4i());
    EXPECT_EQ((zt::vec4f{{6, 7, 8, 9}}), in.readVec4f());
    EXPECT_TRUE(file.atEnd());
}

TEST(ZtpPrimitives, ReadCutShortByTheEndOfTheFileIsAnError) {
    for (size_t cut = 0; cut < 8; ++cut) {
        std::vector<uint8_t> bytes(cut, 0x11);
        InputFile file(bytes);
        EXPECT_EQ("Error reading ztp value", errorOf([&] { file.in().readF64(); })) << cut;
    }
    InputFile file(ByteBuilder().hex("01 02 03"));
    EXPECT_EQ("Error reading ztp value", errorOf([&] { file.in().readI32(); }));
    EXPECT_EQ("custom", errorOf([&] { file.in().read<int32_t>("custom"); }));
}

TEST(ZtpPrimitives, WriteFailureIsReported) {
    // A stream opened for reading only refuses writes.
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("f"), std::string("x"));
    Cb::ZtpOutput out(Cb::openFile(dir.file("f"), "rb"), dir.file("f"));
    EXPECT_EQ("Error writing ztp value", errorOf([&] { out.writeI32(1); }));
}

TEST(ZtpInput, PositionSizeRemainingAndSeekBounds) {
    InputFile file(std::vector<uint8_t>(20, 0));
    Cb::ZtpInput& in = file.in();
    EXPECT_EQ(20, in.size());
    EXPECT_EQ(0, in.tell());
    in.seek(12);
    EXPECT_EQ(12, in.tell());
    EXPECT_EQ(8, in.remaining());
    EXPECT_TRUE(in.fits(2, 4));
    EXPECT_FALSE(in.fits(3, 4));
    EXPECT_FALSE(in.fits(-1, 4));
    EXPECT_FALSE(in.fits(int64_t(1) << 62, 8));
    in.seek(20);
    EXPECT_EQ(0, in.remaining());
    EXPECT_EQ("Cannot seek to offset 21 in " + file.path() + ": the file holds 20 bytes",
              errorOf([&] { in.seek(21); }));
    EXPECT_EQ("Cannot seek to offset -1 in " + file.path() + ": the file holds 20 bytes",
              errorOf([&] { in.seek(-1); }));
    EXPECT_EQ(20, in.tell());
}

TEST(ZtpInput, BorrowedFileStaysOpenOwnedFileIsClosed) {
    testsupport::TempDir dir;
    const std::string path = dir.file("f");
    testsupport::writeFile(path, ByteBuilder().i32(41).i32(42).data());
    Cb::FilePtr file = Cb::openFile(path, "rb");
    {
        Cb::ZtpInput borrowed(file.get(), path, 13);
        EXPECT_EQ(13, borrowed.version());
        EXPECT_EQ(8, borrowed.size());
        EXPECT_EQ(41, borrowed.readI32());
    }
    // The file survived the borrowing stream and kept its position.
    Cb::ZtpInput again(file.get(), path, 13);
    EXPECT_EQ(42, again.readI32());

    Cb::ZtpInput owned(Cb::openFile(path, "rb"), path, 16);
    Cb::ZtpInput moved(std::move(owned));
    EXPECT_FALSE(owned.isOpen());
    EXPECT_TRUE(moved.isOpen());
    moved.close();
    EXPECT_FALSE(moved.isOpen());
}

TEST(ZtpInput, ClosedStreamsFailInsteadOfCrashing) {
    Cb::ZtpInput in;
    Cb::ZtpOutput out;
    EXPECT_EQ("Error reading ztp value", errorOf([&] { in.readI32(); }));
    EXPECT_EQ("No open file ", errorOf([&] { in.tell(); }));
    EXPECT_EQ("Error writing ztp value", errorOf([&] { out.writeI32(1); }));
    EXPECT_EQ("No open file ", errorOf([&] { out.seek(0); }));
}

TEST(ZtpReader, DefaultsBeforeAnyFile) {
    Cb::ZtpReader reader;
    EXPECT_EQ(0.0, reader.time());
    EXPECT_EQ(1, reader.version());
    EXPECT_TRUE(reader.throwOnOpenFailure());
    EXPECT_EQ("Body", reader.signatureName());
    EXPECT_EQ("", reader.bodyNamePattern());
    EXPECT_EQ(Cb::BodyReader::kIdentity, reader.transform());
    EXPECT_EQ("ztp", reader.fileExtension());
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ("ZtpReader() has no open file", errorOf([&] { reader.stream(); }));

    Cb::ZtpWriter writer;
    EXPECT_EQ(0.0, writer.time());
    EXPECT_EQ(16, writer.version());
}

TEST(ZtpReader, OpenStreamReadsNothingAndCloses) {
    testsupport::TempDir dir;
    const std::string path = dir.file("a.ztp");
    testsupport::writeFile(path, ByteBuilder().u32(Cb::kZtpMagic).i32(16).data());
    Cb::ZtpReader reader;
    EXPECT_TRUE(reader.openStream(path, 14));
    EXPECT_EQ(path, reader.fileName());
    EXPECT_EQ(14, reader.version());
    EXPECT_EQ(14, reader.stream().version());
    EXPECT_EQ(0, reader.tell());
    EXPECT_EQ(8, reader.fileSize());
    EXPECT_FALSE(reader.openStream(path, 16));  // already open: nothing changes
    EXPECT_EQ(14, reader.version());
    reader.seek(4);
    EXPECT_EQ(4, reader.remaining());
    EXPECT_EQ(16, reader.stream().readI32());
    reader.close();
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ("ZtpReader(" + path + ") has no open file", errorOf([&] { reader.tell(); }));
    EXPECT_TRUE(reader.openStream(path, 16));
}

TEST(ZtpReader, UnopenableFileThrowsUnlessToldNotTo) {
    testsupport::TempDir dir;
    const std::string path = dir.file("missing.ztp");
    Cb::ZtpReader reader;
    EXPECT_EQ("ZtpReader(" + path + ") failed: Cannot open file: No such file or directory",
              errorOf([&] { reader.openStream(path, 16); }));
    reader.setThrowOnOpenFailure(false);
    EXPECT_FALSE(reader.openStream(path, 16));
    EXPECT_FALSE(reader.isOpen());
}

TEST(ZtpWriter, OpenStreamWritesThroughAndCloses) {
    testsupport::TempDir dir;
    const std::string path = dir.file("w.ztp");
    {
        Cb::ZtpWriter writer;
        writer.openStream(path);
        EXPECT_EQ(path, writer.fileName());
        writer.stream().writeU32(Cb::kZtpMagic);
        writer.stream().writeI32(0);
        EXPECT_EQ(8, writer.tell());
        writer.seek(4);
        writer.stream().writeI32(Cb::kZtpVersion);
        writer.seek(8);
        writer.stream().writeF64(0.0);
    }  // the destructor closes and flushes
    EXPECT_EQ("B1 AB BA AB 10 00 00 00 00 00 00 00 00 00 00 00", testsupport::toHex(testsupport::readBytes(path)));

    Cb::ZtpWriter writer;
    writer.openStream(path);
    writer.close();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(0u, testsupport::readBytes(path).size());
    EXPECT_EQ("ZtpWriter(" + path + ") has no open file", errorOf([&] { writer.stream(); }));

    const std::string bad = dir.file("no/such/dir/x.ztp");
    EXPECT_EQ("Ztp::Writer(" + bad + ") failed: Cannot open file for writing.",
              errorOf([&] { writer.openStream(bad); }));
}
