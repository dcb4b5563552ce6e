// Checked streams and their owners; primitives, strings, plain and legacy
// arrays: exact bytes, round trips, and what cut, hostile or damaged input
// ends in.
#include <gtest/gtest.h>

#include "IoTestSupport.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"

using namespace iotest;

namespace {

const std::string kStringEof = "End of file reached reading Cb::String";
const std::string kLegacyError = "Error reading ztp array";
// zlib level 9 of the bytes 00 01 ... 0F.
const std::string kStream16 = "78 DA 63 60 64 62 66 61 65 63 E7 E0 E4 E2 E6 E1 E5 E3 07 00 02 B8 00 79";

// Cb::readString as a reader of arrays, for the helpers that cut and corrupt input.
void readStringInto(zt::array1<char>&, Cb::ZtpInput& in) { Cb::readString(in); }

}  // namespace

TEST(ZtpStreams, ShortReadsSeekBoundsAndClosedStreams) {
    // Numbers are memory images: their bytes, and reads cut short, are checked with every encoding below.
    InputFile file(ByteBuilder().bytes(std::vector<uint8_t>(20, 0)));
    file.in().seek(20);
    for (int64_t offset : {21, -1})
        EXPECT_EQ("Cannot seek to offset " + std::to_string(offset) + " in " + file.path() + ": the file holds 20 bytes",
                  messageOf([&] { file.in().seek(offset); }));
    EXPECT_EQ(20, file.in().tell());
    Cb::ZtpInput closedIn;
    Cb::ZtpOutput closedOut;
    EXPECT_EQ("Error reading ztp value", messageOf([&] { closedIn.readI32(); }));
    EXPECT_EQ("No open file ", messageOf([&] { closedIn.tell(); }));
    EXPECT_EQ("Error writing ztp value", messageOf([&] { closedOut.writeI32(1); }));
    EXPECT_EQ("No open file ", messageOf([&] { closedOut.seek(0); }));
    Cb::ZtpReader reader;
    EXPECT_EQ("ZtpReader() has no open file", messageOf([&] { reader.stream(); }));
    EXPECT_TRUE(reader.openStream(file.path(), 14));
    reader.close();
    EXPECT_EQ("ZtpReader(" + file.path() + ") has no open file", messageOf([&] { reader.tell(); }));
}

TEST(ZtpString, ExactBytesReadsStoppingAtTheFirstZeroAndBadLengths) {
    EXPECT_EQ("00 00 00 00", toHex(bytesWritten([](Cb::ZtpOutput& out) { Cb::writeString(out, ""); })));
    EXPECT_EQ("03 00 00 00 61 62 63 00", toHex(bytesWritten([](Cb::ZtpOutput& out) { Cb::writeString(out, "abc"); })));
    // A text that would read back cut at its zero byte is refused whole.
    for (const auto& [text, at] : {std::pair{std::string("ab\0cd", 5), 2}, {std::string("\0", 1), 0}}) {
        std::string message;
        EXPECT_EQ("", toHex(bytesWritten([&, &text = text](Cb::ZtpOutput& out) {
                      message = messageOf([&] { Cb::writeString(out, text); });
                  })));
        EXPECT_EQ("Error writing Cb::String: zero byte at " + std::to_string(at), message);
    }
    InputFile file(ByteBuilder().hex("00 00 00 00 03 00 00 00 61 62 63 00 05 00 00 00 61 00 62 63 64 00"));
    for (const char* expected : {"", "abc", "a"}) EXPECT_EQ(expected, Cb::readString(file.in()));
    EXPECT_EQ(0, file.in().remaining());
    expectCutErrors(ByteBuilder().str("abc").data(), {{4, "Error reading ztp value"}, {8, kStringEof}}, readStringInto);
    expectReadErrors({{ByteBuilder().i32(-1).hex("61 62 63 00"), "Error reading Cb::String"},
                      {ByteBuilder().i32(INT32_MIN).hex("61 62 63 00"), "Error reading Cb::String"},
                      {ByteBuilder().i32(INT32_MAX).hex("61 62 63 00"), kStringEof}},
                     readStringInto);
}

TEST(ZtpPlainArray, ExactBytesRoundTripsAndBadCounts) {
    const std::vector<zt::vec3i> values = {{{0, 0, 0}}, {{1, -1, 2}}};
    const auto bytes = bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeArray(arrayOf(values), out); });
    EXPECT_EQ("02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 FF FF FF FF 02 00 00 00",
              toHex(bytes));
    EXPECT_EQ(values, readAll(bytes, Cb::readArray<zt::vec3i>));
    EXPECT_EQ("00 00 00 00 00 00 00 00",
              toHex(bytesWritten([](Cb::ZtpOutput& out) { Cb::writeArray(zt::array1<int>(), out); })));
    expectCutErrors(ByteBuilder().i64(3).i32(10).i32(20).i32(30).data(), {{8, kArraySizeError}, {20, kArrayDataError}},
                    Cb::readArray<int>);
    // Two elements present, and counts below zero, of 3, 2^62 and the most there can be.
    auto twoWithCount = [](int64_t count) { return ByteBuilder().i64(count).i32(1).i32(2); };
    expectReadErrors({{twoWithCount(-1), kArraySizeError}, {twoWithCount(INT64_MIN), kArraySizeError},
                      {twoWithCount(3), kArrayDataError}, {twoWithCount(int64_t(1) << 62), kArrayDataError},
                      {twoWithCount(INT64_MAX), kArrayDataError}},
                     Cb::readArray<int>);
}

TEST(ZtpLegacyArray, EmptyRawAndCompressedRecordsDropPartialElements) {
    EXPECT_TRUE(readAll(testsupport::fromHex("00 00 00 00"), Cb::readLegacyArray<zt::vec3f>, 13).empty());
    // A byte size that is no multiple of the element drops the partial element, raw or compressed (any
    // flag but 0); the raw 24-byte record is pinned by the channel records.
    EXPECT_EQ((std::vector<int>{7, 8}),
              readAll(ByteBuilder().u32(10).u32(0).i32(7).i32(8).hex("AA BB").data(), Cb::readLegacyArray<int>, 13));
    EXPECT_EQ((std::vector<zt::vec3i>{{{0x03020100, 0x07060504, 0x0B0A0908}}}),
              readAll(ByteBuilder().u32(16).u32(7).u32(24).hex(kStream16).data(), Cb::readLegacyArray<zt::vec3i>, 13));
}

TEST(ZtpLegacyArray, CutHostileAndDamagedRecordsFail) {
    expectCutErrors(ByteBuilder().u32(8).u32(0).i32(1).i32(2).data(), {{16, kLegacyError}}, Cb::readLegacyArray<int>);
    expectCutErrors(ByteBuilder().u32(16).u32(1).u32(24).hex(kStream16).data(), {{36, kLegacyError}},
                    Cb::readLegacyArray<int>);
    // Raw bytes beyond the file, a compressed size beyond the file, an
    // inflated size no zlib stream of that length can reach; a stream that
    // inflates to 16 bytes announced as 20 or 12, and a damaged checksum.
    expectReadErrors({{ByteBuilder().u32(0xFFFFFFFFu).u32(0).i32(1), kLegacyError},
                      {ByteBuilder().u32(16).u32(1).u32(0xFFFFFFF0u).hex(kStream16), kLegacyError},
                      {ByteBuilder().u32(0xFFFFFFF0u).u32(1).u32(24).hex(kStream16), kLegacyError},
                      {ByteBuilder().u32(20).u32(1).u32(24).hex(kStream16), kInflateDataError},
                      {ByteBuilder().u32(12).u32(1).u32(24).hex(kStream16), "ZTP Decompression Buffer Error:"},
                      {ByteBuilder().u32(16).u32(1).u32(24).hex(kStream16.substr(0, 69) + "7A"),
                       kInflateDataError}},
                     Cb::readLegacyArray<int>, 13);
}

TEST(ZtpEncodingWrite, FullStreamFailsWithTheTextOfTheFieldBeingWritten) {
    expectWriteLimitErrors({{4, "Error writing ztp value"}, {8, "Error writing Cb::String"}},
                           [](Cb::ZtpOutput& out) { Cb::writeString(out, "abc"); });
    expectWriteLimitErrors({{8, "Error writing array size"}, {20, "Error writing array data"}},
                           [](Cb::ZtpOutput& out) { Cb::writeArray(arrayOf<int>({1, 2, 3}), out); });
}
