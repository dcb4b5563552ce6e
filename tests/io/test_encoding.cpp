// Strings, plain arrays and legacy arrays: exact bytes, round trips, and
// what damaged or hostile input ends in.
#include <gtest/gtest.h>

#include <limits>

#include "IoTestSupport.h"
#include "cb/io/ZtpEncoding.h"

using iotest::errorOf;
using iotest::Field;
using iotest::InputFile;
using testsupport::ByteBuilder;
using testsupport::toHex;

namespace {

const std::string kValueError = "Error reading ztp value";
const std::string kStringEof = "End of file reached reading Cb::String";
const std::string kStringError = "Error reading Cb::String";
const std::string kSizeError = "Error reading array size";
const std::string kDataError = "Error reading array data";
const std::string kLegacyError = "Error reading ztp array";

template <class T>
std::vector<T> elementsOf(const zt::array1<T>& a) {
    return std::vector<T>(a.begin(), a.end());
}

template <class T>
zt::array1<T> arrayOf(const std::vector<T>& v) {
    zt::array1<T> a;
    for (const T& x : v) a.push_back(x);
    return a;
}

template <class T>
zt::array1<T> readPlain(const std::vector<uint8_t>& bytes) {
    InputFile file(bytes);
    zt::array1<T> a;
    Cb::readArray(a, file.in());
    EXPECT_TRUE(file.atEnd());
    return a;
}

template <class T>
zt::array1<T> readLegacy(const ByteBuilder& bytes) {
    InputFile file(bytes, 13);
    zt::array1<T> a;
    Cb::readLegacyArray(a, file.in());
    EXPECT_TRUE(file.atEnd());
    return a;
}

template <class T>
void expectPlainRoundTrip(const std::vector<T>& values) {
    auto bytes = iotest::bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeArray(arrayOf(values), out); });
    EXPECT_EQ(8 + values.size() * sizeof(T), bytes.size());
    EXPECT_EQ(values, elementsOf(readPlain<T>(bytes)));
}

}  // namespace

TEST(ZtpString, ExactBytes) {
    EXPECT_EQ("00 00 00 00", toHex(iotest::bytesWritten([](Cb::ZtpOutput& out) { Cb::writeString(out, ""); })));
    EXPECT_EQ("03 00 00 00 61 62 63 00",
              toHex(iotest::bytesWritten([](Cb::ZtpOutput& out) { Cb::writeString(out, "abc"); })));
}

TEST(ZtpString, RoundTripsAndStopsAtTheFirstZero) {
    InputFile file(ByteBuilder()
                       .hex("00 00 00 00")
                       .hex("03 00 00 00 61 62 63 00")
                       .hex("05 00 00 00 61 00 62 63 64 00")
                       .str("Master Voxel Size"));
    EXPECT_EQ("", Cb::readString(file.in()));
    EXPECT_EQ("abc", Cb::readString(file.in()));
    EXPECT_EQ("a", Cb::readString(file.in()));
    EXPECT_EQ("Master Voxel Size", Cb::readString(file.in()));
    EXPECT_TRUE(file.atEnd());
}

TEST(ZtpString, CutAtEveryByte) {
    iotest::expectCutErrors(ByteBuilder().str("abc").data(), {{4, kValueError}, {8, kStringEof}},
                            [](Cb::ZtpInput& in) { Cb::readString(in); });
}

TEST(ZtpString, EndOfFileIsTheEofException) {
    InputFile file(ByteBuilder().hex("03 00 00 00 61 62"));
    EXPECT_THROW(Cb::readString(file.in()), ztx::eof);
}

TEST(ZtpString, HostileLengthsFailWithoutAllocating) {
    for (int32_t length : {-1, std::numeric_limits<int32_t>::min()}) {
        InputFile file(ByteBuilder().i32(length).hex("61 62 63 00"));
        EXPECT_EQ(kStringError, errorOf([&] { Cb::readString(file.in()); })) << length;
    }
    InputFile file(ByteBuilder().i32(std::numeric_limits<int32_t>::max()).hex("61 62 63 00"));
    EXPECT_EQ(kStringEof, errorOf([&] { Cb::readString(file.in()); }));
}

TEST(ZtpPlainArray, ExactBytes) {
    auto empty = iotest::bytesWritten([](Cb::ZtpOutput& out) { Cb::writeArray(zt::array1<zt::vec3i>(), out); });
    EXPECT_EQ("00 00 00 00 00 00 00 00", toHex(empty));
    auto tiles = iotest::bytesWritten(
        [](Cb::ZtpOutput& out) { Cb::writeArray(arrayOf<zt::vec3i>({{{0, 0, 0}}, {{1, -1, 2}}}), out); });
    EXPECT_EQ(toHex(ByteBuilder()
                        .hex("02 00 00 00 00 00 00 00")
                        .hex("00 00 00 00 00 00 00 00 00 00 00 00")
                        .hex("01 00 00 00 FF FF FF FF 02 00 00 00")
                        .data()),
              toHex(tiles));
    EXPECT_EQ(0, readPlain<zt::vec3i>(empty).count());
}

TEST(ZtpPlainArray, RoundTripsEveryElementType) {
    expectPlainRoundTrip<uint8_t>({0, 1, 255});
    expectPlainRoundTrip<float>({0.5f, -1e30f});
    expectPlainRoundTrip<int64_t>({-1, int64_t(1) << 50});
    expectPlainRoundTrip<zt::vec2i>({{{1, 2}}, {{3, 4}}});
    expectPlainRoundTrip<zt::vec3f>({{{1, 2, 3}}, {{-4, 5, 6}}});
    expectPlainRoundTrip<zt::vec4f>({{{1, 2, 3, 4}}, {{0, 0, 0, -1}}});
}

TEST(ZtpPlainArray, CutAtEveryByte) {
    auto bytes = ByteBuilder().i64(3).i32(10).i32(20).i32(30).data();
    iotest::expectCutErrors(bytes, {{8, kSizeError}, {20, kDataError}}, [](Cb::ZtpInput& in) {
        zt::array1<int> a;
        Cb::readArray(a, in);
    });
}

TEST(ZtpPlainArray, HostileCountsFailBeforeAllocatingAndKeepTheArray) {
    const std::pair<int64_t, std::string> cases[] = {
        {-1, kSizeError},
        {std::numeric_limits<int64_t>::min(), kSizeError},
        {int64_t(1) << 62, kDataError},
        {std::numeric_limits<int64_t>::max(), kDataError},
        {3, kDataError},  // two elements present, three announced
    };
    for (const auto& [count, error] : cases) {
        InputFile file(ByteBuilder().i64(count).i32(1).i32(2));
        zt::array1<int> a = arrayOf<int>({9, 9});
        EXPECT_EQ(error, errorOf([&] { Cb::readArray(a, file.in()); })) << count;
        EXPECT_EQ((std::vector<int>{9, 9}), elementsOf(a));
    }
}

TEST(ZtpLegacyArray, EmptyIsFourBytes) {
    zt::array1<zt::vec3f> a = arrayOf<zt::vec3f>({{{1, 1, 1}}});
    InputFile file(ByteBuilder().hex("00 00 00 00"), 13);
    Cb::readLegacyArray(a, file.in());
    EXPECT_EQ(0, a.count());
    EXPECT_TRUE(file.atEnd());
}

TEST(ZtpLegacyArray, RawAndCompressedTwoVec3Elements) {
    const std::vector<zt::vec3f> expected{{{1, 2, 3}}, {{4, 5, 6}}};
    auto raw = readLegacy<zt::vec3f>(
        ByteBuilder().u32(24).u32(0).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6));
    EXPECT_EQ(expected, elementsOf(raw));
    // zlib level 9 of the same 24 bytes.
    auto packed = readLegacy<zt::vec3f>(ByteBuilder().u32(24).u32(1).u32(26).hex(
        "78 DA 63 60 68 B0 67 60 60 70 00 22 20 6E 00 E2 05 40 7C C0 01 00 29 43 04 20"));
    EXPECT_EQ(expected, elementsOf(packed));
}

TEST(ZtpLegacyArray, ByteSizeNotAMultipleDropsThePartialElement) {
    auto raw = readLegacy<int>(ByteBuilder().u32(10).u32(0).i32(7).i32(8).hex("AA BB"));
    EXPECT_EQ((std::vector<int>{7, 8}), elementsOf(raw));
    // zlib level 9 of the bytes 00 01 ... 0F, read as 12-byte elements.
    auto packed = readLegacy<zt::vec3i>(ByteBuilder().u32(16).u32(7).u32(24).hex(
        "78 DA 63 60 64 62 66 61 65 63 E7 E0 E4 E2 E6 E1 E5 E3 07 00 02 B8 00 79"));
    ASSERT_EQ(1, packed.count());
    EXPECT_EQ((zt::vec3i{{0x03020100, 0x07060504, 0x0B0A0908}}), packed[0]);
}

TEST(ZtpLegacyArray, CutAtEveryByte) {
    auto raw = ByteBuilder().u32(8).u32(0).i32(1).i32(2).data();
    auto packed = ByteBuilder().u32(16).u32(1).u32(24).hex(
        "78 DA 63 60 64 62 66 61 65 63 E7 E0 E4 E2 E6 E1 E5 E3 07 00 02 B8 00 79").data();
    auto read = [](Cb::ZtpInput& in) {
        zt::array1<int> a;
        Cb::readLegacyArray(a, in);
    };
    iotest::expectCutErrors(raw, {{16, kLegacyError}}, read);
    iotest::expectCutErrors(packed, {{36, kLegacyError}}, read);
}

TEST(ZtpLegacyArray, HostileSizesAndStreamsFail) {
    auto read = [](const ByteBuilder& bytes) {
        InputFile file(bytes, 13);
        zt::array1<int> a = arrayOf<int>({5});
        std::string error = errorOf([&] { Cb::readLegacyArray(a, file.in()); });
        EXPECT_EQ((std::vector<int>{5}), elementsOf(a)) << "a failed read keeps the array";
        return error;
    };
    const std::string stream = "78 DA 63 60 64 62 66 61 65 63 E7 E0 E4 E2 E6 E1 E5 E3 07 00 02 B8 00 79";
    // Raw bytes beyond the file, a compressed size beyond the file, and an
    // inflated size no zlib stream of that length can reach.
    EXPECT_EQ(kLegacyError, read(ByteBuilder().u32(0xFFFFFFFFu).u32(0).i32(1)));
    EXPECT_EQ(kLegacyError, read(ByteBuilder().u32(16).u32(1).u32(0xFFFFFFF0u).hex(stream)));
    EXPECT_EQ(kLegacyError, read(ByteBuilder().u32(0xFFFFFFF0u).u32(1).u32(24).hex(stream)));
    // The stream inflates to 16 bytes: announcing 12 or 20 is an error, not a silent cut.
    EXPECT_EQ(0u, read(ByteBuilder().u32(20).u32(1).u32(24).hex(stream)).find("ZTP Decompression Data Error:"));
    EXPECT_EQ(0u, read(ByteBuilder().u32(12).u32(1).u32(24).hex(stream)).find("ZTP Decompression Buffer Error:"));
    // A damaged checksum.
    EXPECT_EQ(0u, read(ByteBuilder().u32(16).u32(1).u32(24).hex(stream.substr(0, stream.size() - 2) + "7A"))
                      .find("ZTP Decompression Data Error:"));
}

TEST(ZtpEncodingWrite, FullStreamFailsWithTheTextOfTheFieldBeingWritten) {
    iotest::expectWriteLimitErrors({{4, "Error writing ztp value"}, {8, "Error writing Cb::String"}},
                                   [](Cb::ZtpOutput& out) { Cb::writeString(out, "abc"); });
    iotest::expectWriteLimitErrors({{8, "Error writing array size"}, {20, "Error writing array data"}},
                                   [](Cb::ZtpOutput& out) { Cb::writeArray(arrayOf<int>({1, 2, 3}), out); });
}
