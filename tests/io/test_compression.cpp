// zlib wrappers and the piece container.
#include <gtest/gtest.h>

#include <omp.h>

#include <regex>

#include "IoTestSupport.h"
#include "zt/compression_buffer.h"

using iotest::errorOf;
using testsupport::toHex;

namespace {

std::vector<uint8_t> vectorOf(const zt::array1<uint8_t>& a) { return std::vector<uint8_t>(a.begin(), a.end()); }

// Bytes that compress, but not to nothing.
template <class T>
std::vector<T> ramp(size_t n) {
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = T(i % 97);
    return v;
}

}  // namespace

TEST(CompressBuffer, ShortInputsStayRawLongerOnesAreLevel9Zlib) {
    std::vector<uint8_t> zeros(256, 0);
    EXPECT_TRUE(zt::compressBuffer(zeros.data(), 255).empty());
    EXPECT_TRUE(zt::compressBuffer(zeros.data(), 0).empty());
    // zlib's level-9 stream of 256 zero bytes, header and checksum included.
    EXPECT_EQ("78 DA 63 60 18 D9 00 00 01 00 00 01", toHex(vectorOf(zt::compressBuffer(zeros.data(), 256))));
}

TEST(CompressBuffer, RoundTripThroughDecompress) {
    auto source = ramp<uint8_t>(100000);
    auto packed = zt::compressBuffer(source.data(), source.size());
    ASSERT_FALSE(packed.empty());
    EXPECT_LT(packed.count(), 100000 / 10);
    std::vector<uint8_t> back(source.size());
    zt::decompressBuffer(packed.data(), uint64_t(packed.count()), back.data(), back.size());
    EXPECT_EQ(source, back);
}

TEST(CompressBuffer, SizeLimits) {
    const uint8_t byte = 0;
    // The sizes are refused before either buffer is touched.
    EXPECT_EQ("Buffer to large to compress (4294967296 bytes)",
              errorOf([&] { zt::compressBuffer(&byte, 4294967296ull); }));
    EXPECT_EQ("Compressed buffer too large (4294967296 bytes)",
              errorOf([&] { zt::decompressBuffer(&byte, 4294967296ull, nullptr, 1); }));
    uint8_t out = 0;
    EXPECT_EQ("Decompressed buffer too large (4294967297 bytes)",
              errorOf([&] { zt::decompressBuffer(&byte, 1, &out, 4294967297ull); }));
}

TEST(DecompressBuffer, EveryMismatchIsAnErrorWithSizesAndAddressesOnly) {
    auto source = ramp<uint8_t>(1000);
    auto packed = zt::compressBuffer(source.data(), source.size());
    std::vector<uint8_t> back(1001);
    const std::string n = std::to_string(packed.count());
    const std::regex diagnostics(" ds=([0-9]+) dd=0x[0-9a-f]+ ss=" + n + " sd=0x[0-9a-f]+$");
    auto failure = [&](uint64_t announced, const zt::array1<uint8_t>& stream) {
        return errorOf([&] { zt::decompressBuffer(stream.data(), uint64_t(stream.count()), back.data(), announced); });
    };
    // More bytes announced than the stream holds, fewer, and a broken checksum.
    std::string tooMany = failure(1001, packed);
    EXPECT_EQ(0u, tooMany.find("ZTP Decompression Data Error: ds=1001 ")) << tooMany;
    EXPECT_TRUE(std::regex_search(tooMany, diagnostics)) << tooMany;
    std::string tooFew = failure(999, packed);
    EXPECT_EQ(0u, tooFew.find("ZTP Decompression Buffer Error: ds=999 ")) << tooFew;
    zt::array1<uint8_t> damaged = packed;
    damaged[damaged.count() - 1] ^= 0x01;
    std::string broken = failure(1000, damaged);
    EXPECT_EQ(0u, broken.find("ZTP Decompression Data Error:")) << broken;
    EXPECT_TRUE(std::regex_search(broken, diagnostics)) << broken;
    // A stream cut short.
    zt::array1<uint8_t> cut = packed;
    cut.resize(cut.count() / 2);
    EXPECT_EQ(0u, failure(1000, cut).find("ZTP Decompression Data Error:"));
}

TEST(MaxInflatedSize, BoundsWhatZlibProducesAndSaturates) {
    for (size_t n : {256u, 65536u, 4u << 20}) {
        std::vector<uint8_t> zeros(n, 0);
        auto packed = zt::compressBuffer(zeros.data(), n);
        EXPECT_GE(zt::maxInflatedSize(uint64_t(packed.count())), n) << n;
    }
    EXPECT_EQ(~uint64_t(0), zt::maxInflatedSize(~uint64_t(0) / 2));
    EXPECT_EQ(0u, zt::maxInflatedSize(0));
}

TEST(CompressionBuffer, PiecesOfEveryElementSize) {
    zt::compression_buffer buffer(2, 5);
    auto ints = ramp<int>(1000);
    auto wide = ramp<int64_t>(1000);
    std::vector<zt::vec3f> points(10, zt::vec3f{{1, 2, 3}});
    std::vector<zt::vec4i> quads(1000, zt::vec4i{{1, 2, 3, 4}});
    buffer.setPiece(0, ints.data(), 100, 500, 7);   // 2000 bytes: compressed
    buffer.setPiece(1, wide.data(), 0, 10, 8);      // 80 bytes: raw
    buffer.setPiece(2, points.data(), 3, 7, 9);     // 84 bytes: raw
    buffer.setPiece(3, quads.data(), 0, 1000, 10);  // compressed
    buffer.setPiece(4, points.data(), 10, 0, 11);   // empty
    buffer.finish();

    auto entry = [&](int64_t k) {
        return std::vector<uint64_t>{buffer.entry(k, zt::kPieceOffset), buffer.entry(k, zt::kPieceStoredSize),
                                     buffer.entry(k, zt::kPieceRawCount), buffer.entry(k, zt::kPieceStart)};
    };
    const uint64_t s0 = uint64_t(buffer.pieceBytes(0).count());
    const uint64_t s3 = uint64_t(buffer.pieceBytes(3).count());
    EXPECT_EQ((std::vector<uint64_t>{0, s0, 500, 100}), entry(0));
    EXPECT_EQ((std::vector<uint64_t>{s0, 80, zt::kRawPiece, 0}), entry(1));
    EXPECT_EQ((std::vector<uint64_t>{s0 + 80, 84, zt::kRawPiece, 3}), entry(2));
    EXPECT_EQ((std::vector<uint64_t>{s0 + 164, s3, 1000, 0}), entry(3));
    EXPECT_EQ((std::vector<uint64_t>{s0 + 164 + s3, 0, zt::kRawPiece, 10}), entry(4));
    EXPECT_EQ((std::vector<uint32_t>{7, 8, 9, 10, 11}),
              std::vector<uint32_t>(buffer.tags().begin(), buffer.tags().end()));

    // The data is the pieces back to back; raw pieces are the elements themselves.
    const auto& data = buffer.data();
    ASSERT_EQ(int64_t(s0 + 164 + s3), data.count());
    EXPECT_EQ(0, std::memcmp(data.data() + s0, wide.data(), 80));
    EXPECT_EQ(0, std::memcmp(data.data() + s0 + 80, points.data() + 3, 84));
    std::vector<int> back(500);
    zt::decompressBuffer(data.data(), s0, back.data(), 2000);
    EXPECT_EQ(std::vector<int>(ints.begin() + 100, ints.begin() + 600), back);
}

TEST(CompressionBuffer, EmptyAndThreadCount) {
    zt::compression_buffer none(0, 0);
    EXPECT_EQ(1u, none.threads());
    none.finish();
    EXPECT_EQ(0, none.pieceCount());
    EXPECT_EQ(0, none.table().count());
    EXPECT_EQ(0, none.data().count());
}
