// zlib wrappers, and marked and chunked compressed arrays: exact layout,
// round trips on one and two threads, and piece tables, streams and counts
// that lie.
#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "IoTestSupport.h"
#include "ScopedThreads.h"
#include "cb/encoding/CompressedArray.h"
#include "zt/cat.h"
#include "zt/compression_buffer.h"

using namespace iotest;

namespace {

const std::string kMarkError = "Error reading compressed array";
const std::string kSizeError = "Error reading compressed array size";
constexpr uint64_t kRaw = zt::kRawPiece;
// zlib level 9 of 256 zero bytes.
// 256 zero bytes as zlib's level 9 writes them (any zlib stream reads), and as
// this library writes them.
const std::string kZeros256 = "78 DA 63 60 18 D9 00 00 01 00 00 01";
const std::string kPackedZeros256 = "78 9C 63 18 E1 00 00 01 00 00 01";

// Compressible values; pieces of 4000 make 4459 zlib bytes.
zt::array1<float> halves(int64_t n) {
    zt::array1<float> a(n);
    for (int64_t i = 0; i < n; ++i) a[i] = float(i) * 0.5f;
    return a;
}

template <class T>
std::vector<uint8_t> compressedBytes(const zt::array1<T>& a, bool compress = true) {
    return bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeCompressedArray(a, out, compress); });
}

// A chunked array with a plain piece table, made by hand.
ByteBuilder chunked(int64_t count, const std::vector<uint64_t>& table, const std::vector<uint8_t>& data) {
    ByteBuilder b;
    b.u8(1).i64(count).i64(4000).i64(int64_t(table.size())).u8(0).i64(int64_t(table.size()));
    for (uint64_t v : table) b.u64(v);
    return b.i64(int64_t(data.size())).bytes(data);
}

}  // namespace

TEST(CompressBuffer, RawBelow256BytesZlibStreamsAboveAndSizeLimits) {
    std::vector<uint8_t> zeros(256, 0), out(1);
    EXPECT_TRUE(zt::compressBuffer(zeros.data(), 255).empty());
    EXPECT_EQ(kPackedZeros256, toHex(elementsOf(zt::compressBuffer(zeros.data(), 256))));
    EXPECT_EQ("Buffer to large to compress (4294967296 bytes)",
              messageOf([&] { zt::compressBuffer(zeros.data(), 4294967296ull); }));
    EXPECT_EQ("Compressed buffer too large (4294967296 bytes)",
              messageOf([&] { zt::decompressBuffer(zeros.data(), 4294967296ull, nullptr, 1); }));
    EXPECT_EQ("Decompressed buffer too large (4294967297 bytes)",
              messageOf([&] { zt::decompressBuffer(zeros.data(), 1, out.data(), 4294967297ull); }));
    std::vector<uint8_t> many(4u << 20, 0);  // zlib's best ratio
    EXPECT_GE(zt::maxInflatedSize(uint64_t(zt::compressBuffer(many.data(), many.size()).count())), many.size());
    EXPECT_EQ(~uint64_t(0), zt::maxInflatedSize(~uint64_t(0) / 2));
}

TEST(DecompressBuffer, EveryMismatchIsAnErrorWithSizesAndAddressesOnly) {
    const auto packed = zt::compressBuffer(halves(250).data(), 1000);
    std::vector<uint8_t> back(1001);
    zt::array1<uint8_t> damaged = packed, cut = packed;
    damaged[damaged.count() - 1] ^= 0x01;
    cut.resize(cut.count() / 2);
    // More bytes announced than the stream holds, fewer, a broken checksum, and a stream cut short.
    const std::tuple<const zt::array1<uint8_t>&, uint64_t, std::string> cases[] = {
        {packed, 1001, "Data"}, {packed, 999, "Buffer"}, {damaged, 1000, "Data"}, {cut, 1000, "Data"}};
    for (const auto& [stream, announced, kind] : cases) {
        const std::string error =
            messageOf([&, &stream = stream, announced = announced] {
                zt::decompressBuffer(stream.data(), uint64_t(stream.count()), back.data(), announced);
            });
        const std::regex expected(zt::cat("ZTP Decompression ", kind, " Error: ds=", announced, " dd=0x[0-9a-f]+ ss=",
                                          stream.count(), " sd=0x[0-9a-f]+"));
        EXPECT_TRUE(std::regex_match(error, expected)) << error;
    }
}

TEST(CompressedArray, FourThousandFloatsAreOneZlibPieceAndOneMoreIsRaw) {
    // 4000 of these floats (16000 bytes) pack into 4459.
    for (int64_t n : {4000, 4001}) {
        SCOPED_TRACE(n);
        auto bytes = compressedBytes(halves(n));
        const int64_t tableCount = n == 4000 ? 4 : 8, dataBytes = n == 4000 ? 4459 : 4463;
        // Mark, count and chunk size; the piece table, a plain marked array: elements 0 to 3999
        // in zlib, then element 4000 raw.
        ByteBuilder header;
        header.u8(1).i64(n).i64(4000).i64(tableCount).u8(0).i64(tableCount).u64(0).u64(4459).u64(4000).u64(0);
        if (n == 4001) header.u64(4459).u64(4).u64(kRaw).u64(4000);
        header.i64(dataBytes);
        ASSERT_EQ(header.size() + size_t(dataBytes), bytes.size());
        EXPECT_EQ(toHex(header.data()), toHex({bytes.begin(), bytes.begin() + std::ptrdiff_t(header.size())}));
        if (n == 4001) { EXPECT_EQ("00 00 FA 44", toHex({bytes.end() - 4, bytes.end()})); }  // 2000.0f
        EXPECT_EQ(elementsOf(halves(n)), readAll(bytes, Cb::readCompressedArray<float>));
    }
}

TEST(CompressedArray, EmptyAndUncompressedLayouts) {
    EXPECT_EQ(toHex(ByteBuilder().u8(1).i64(0).i64(4000).i64(0).u8(0).i64(0).i64(0).data()),
              toHex(compressedBytes(zt::array1<zt::vec3f>())));
    // Uncompressed is a mark and a plain array.
    EXPECT_EQ(toHex(ByteBuilder().u8(0).i64(2).f32(0).f32(0.5f).data()), toHex(compressedBytes(halves(2), false)));
}

TEST(CompressedArray, OneAndTwoThreadsGiveTheSameBytesElementsAndErrors) {
    const auto a = halves(50001);
    std::vector<uint8_t> bytes[2];
    auto damaged = compressedBytes(halves(4001));
    damaged[106 + 4459 - 1] ^= 0x5A;  // the first piece's checksum; pieces start after 106 bytes
    for (int n : {1, 2}) {
        testsupport::ScopedThreads threads(n);
        bytes[n - 1] = compressedBytes(a);
        EXPECT_EQ(elementsOf(a), readAll(bytes[n - 1], Cb::readCompressedArray<float>)) << n;
        expectReadErrors({{ByteBuilder().bytes(damaged), kInflateDataError}}, Cb::readCompressedArray<float>);
    }
    EXPECT_EQ(bytes[0], bytes[1]);
}

TEST(CompressedArray, PieceTablesThatLieAreRefusedBeforeInflating) {
    const std::vector<uint8_t> eight(8, 1);
    const std::string piece = kMarkError + ": piece ";
    expectReadErrors(
        {{chunked(2, {0, 8, kRaw}, eight), kMarkError + ": its piece table holds 3 values, not four per piece"},
         {chunked(2, {4, 8, kRaw, 0}, eight), piece + "0 lies outside the data"},
         {chunked(2, {kRaw, 8, kRaw, 0}, eight), piece + "0 lies outside the data"},
         {chunked(2, {8, kRaw, kRaw, 0}, eight), piece + "0 lies outside the data"},
         {chunked(2, {0, 6, kRaw, 0}, eight), piece + "0 holds a partial element"},
         {chunked(2, {0, 4, kRaw, 0, 4, 4, kRaw, 2}, eight), piece + "1 lies outside the array"},
         {chunked(2, {0, 8, kRaw, kRaw}, eight), piece + "0 lies outside the array"},
         {chunked(int64_t(1) << 40, {0, 8, uint64_t(1) << 40, 0}, eight),
          piece + "0 announces more elements than its bytes can hold"},
         {chunked(3, {0, 8, kRaw, 0, 0, 8, kRaw, 1}, eight), kMarkError + ": two pieces hold element 1"},
         {chunked(3, {0, 8, kRaw, 1}, eight), kMarkError + ": its pieces hold 2 of 3 elements"},
         // Each stored byte inflates once: pieces sharing bytes could announce any size.
         {chunked(4, {0, 8, kRaw, 0, 0, 8, kRaw, 2}, eight), kMarkError + ": pieces 0 and 1 share stored bytes"},
         {chunked(3, {0, 8, kRaw, 1, 4, 4, kRaw, 0}, eight), kMarkError + ": pieces 0 and 1 share stored bytes"},
         {chunked(int64_t(1) << 62, {}, {}), kMarkError + ": its pieces hold 0 of 4611686018427387904 elements"},
         {chunked(-1, {}, {}), kSizeError}},
        Cb::readCompressedArray<int>);
    // Pieces may come in any order and empty pieces claim nothing.
    auto back = chunked(2, {4, 4, kRaw, 0, 0, 4, kRaw, 1, 8, 0, kRaw, 1}, {1, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_EQ((std::vector<int>{2, 1}), readAll(back.data(), Cb::readCompressedArray<int>));
}

TEST(CompressedArray, CutOrFullStreamsFailWithTheTextOfTheField) {
    // 100 floats make one zlib piece of 242 bytes.
    const std::string w = "Error writing ";
    expectCutErrors(compressedBytes(halves(100)),
                    {{1, kMarkError}, {9, kSizeError}, {17, "Error reading compressed array chunk size"},
                     {25, kSizeError}, {26, kMarkError}, {34, kArraySizeError}, {66, kArrayDataError},
                     {74, kArraySizeError}, {74 + 242, kArrayDataError}},
                    Cb::readCompressedArray<float>);
    expectWriteLimitErrors({{1, w + "compressed array"}, {9, w + "compressed array size"},
                            {17, w + "compressed array chunk size"}, {25, w + "compressed array size"},
                            {26, w + "compressed array mark"}, {34, w + "array size"}, {66, w + "array data"},
                            {74, w + "array size"}, {74 + 242, w + "array data"}},
                           [](Cb::ZtpOutput& out) { Cb::writeCompressedArray(halves(100), out, true); });
}

TEST(MarkedArray, AHundredValuesAreCompressed) {
    // These 800 bytes pack into 204; piece tables above show short marked arrays staying plain.
    zt::array1<uint64_t> values(100);
    for (int64_t i = 0; i < 100; ++i) values[i] = uint64_t(i) * 3;
    auto bytes = bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeMarkedArray(values, out); });
    ASSERT_EQ(17u + 204, bytes.size());
    EXPECT_EQ(toHex(ByteBuilder().i64(100).u8(1).i64(204).data()), toHex({bytes.begin(), bytes.begin() + 17}));
    EXPECT_EQ(elementsOf(values), readAll(bytes, Cb::readMarkedArray<uint64_t>));
}

TEST(MarkedArray, CutAndHostileCountsFail) {
    expectCutErrors(ByteBuilder().i64(32).u8(1).i64(12).hex(kZeros256).data(),
                    {{8, kSizeError}, {9, kMarkError}, {17, kArraySizeError}, {29, kArrayDataError}},
                    Cb::readMarkedArray<uint64_t>);
    // A count below zero, a plain array that disagrees with the count in
    // front of it, 2^62 elements, and 256 zero bytes announced as 2^62, 33 or 31 elements.
    expectReadErrors({{ByteBuilder().i64(-5).u8(0).i64(0), kSizeError},
                      {ByteBuilder().i64(2).u8(0).i64(1).u64(9), kSizeError},
                      {ByteBuilder().i64(0).u8(0).i64(int64_t(1) << 62), kArrayDataError},
                      {ByteBuilder().i64(int64_t(1) << 62).u8(1).i64(12).hex(kZeros256), kSizeError},
                      {ByteBuilder().i64(33).u8(1).i64(12).hex(kZeros256), kInflateDataError},
                      {ByteBuilder().i64(31).u8(1).i64(12).hex(kZeros256), "ZTP Decompression Buffer Error:"}},
                     Cb::readMarkedArray<uint64_t>);
}
