// Marked and chunked compressed arrays: exact layout, round trips on one and
// two threads, and piece tables that lie.
#include <gtest/gtest.h>

#include <omp.h>

#include <limits>

#include "IoTestSupport.h"
#include "cb/io/CompressedArray.h"
#include "zt/compression_buffer.h"

using iotest::errorOf;
using iotest::InputFile;
using testsupport::ByteBuilder;
using testsupport::toHex;

namespace {

const std::string kMarkError = "Error reading compressed array";
const std::string kSizeError = "Error reading compressed array size";
const std::string kChunkError = "Error reading compressed array chunk size";
const std::string kArraySizeError = "Error reading array size";
const std::string kArrayDataError = "Error reading array data";
constexpr uint64_t kRaw = ~uint64_t(0);

// Compressible but varied values of any element type.
template <class T>
T valueAt(int64_t i) {
    using S = typename zt::scalar_of<T>::type;
    T v{};
    S* c = reinterpret_cast<S*>(&v);
    for (int k = 0; k < zt::components<T>::value; ++k) c[k] = S((i * 7 + k * 13) % 1000) / S(2);
    return v;
}

template <class T>
zt::array1<T> sample(int64_t n) {
    zt::array1<T> a(n);
    for (int64_t i = 0; i < n; ++i) a[i] = valueAt<T>(i);
    return a;
}

zt::array1<float> halves(int64_t n) {
    zt::array1<float> a(n);
    for (int64_t i = 0; i < n; ++i) a[i] = float(i) * 0.5f;
    return a;
}

template <class T>
std::vector<uint8_t> compressedBytes(const zt::array1<T>& a, bool compress = true) {
    return iotest::bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeCompressedArray(a, out, compress); });
}

template <class T>
zt::array1<T> readCompressed(const std::vector<uint8_t>& bytes) {
    InputFile file(bytes);
    zt::array1<T> a;
    Cb::readCompressedArray(a, file.in());
    EXPECT_TRUE(file.atEnd());
    return a;
}

template <class T>
bool same(const zt::array1<T>& a, const zt::array1<T>& b) {
    return a.count() == b.count() &&
           (a.count() == 0 || std::memcmp(a.data(), b.data(), size_t(a.count()) * sizeof(T)) == 0);
}

std::string hexPrefix(const std::vector<uint8_t>& bytes, size_t n) {
    return toHex(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(n, bytes.size()))));
}

// A chunked array with a plain piece table, made by hand.
ByteBuilder chunked(int64_t count, const std::vector<uint64_t>& table, const std::vector<uint8_t>& data) {
    ByteBuilder b;
    b.u8(1).i64(count).i64(4000).i64(int64_t(table.size())).u8(0).i64(int64_t(table.size()));
    for (uint64_t v : table) b.u64(v);
    return b.i64(int64_t(data.size())).bytes(data);
}

std::string readError(const ByteBuilder& bytes) {
    InputFile file(bytes);
    zt::array1<int> a;
    a.push_back(42);
    std::string error = errorOf([&] { Cb::readCompressedArray(a, file.in()); });
    EXPECT_TRUE(a.count() == 1 && a[0] == 42) << "a failed read keeps the array";
    return error;
}

class ThreadCount {
public:
    explicit ThreadCount(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }
    ~ThreadCount() { omp_set_num_threads(saved_); }

private:
    int saved_;
};

}  // namespace

TEST(CompressedArray, FourThousandFloatsAreOneZlibPiece) {
    auto bytes = compressedBytes(halves(4000));
    // zlib level 9 turns these 16000 bytes into 4464.
    ByteBuilder header;
    header.u8(1).i64(4000).i64(4000);           // mark, count, chunk size
    header.i64(4).u8(0).i64(4);                 // the table: a plain marked array
    header.u64(0).u64(4464).u64(4000).u64(0);  // the zlib piece
    header.i64(4464);                           // data byte count
    ASSERT_EQ(header.size() + 4464, bytes.size());
    EXPECT_EQ(toHex(header.data()), hexPrefix(bytes, header.size()));
    EXPECT_TRUE(same(halves(4000), readCompressed<float>(bytes)));
}

TEST(CompressedArray, FourThousandAndOneFloatsEndInARawPiece) {
    auto bytes = compressedBytes(halves(4001));
    ByteBuilder header;
    header.u8(1).i64(4001).i64(4000);
    header.i64(8).u8(0).i64(8);
    header.u64(0).u64(4464).u64(4000).u64(0);     // elements 0 to 3999, zlib
    header.u64(4464).u64(4).u64(kRaw).u64(4000);  // element 4000, raw
    header.i64(4468);
    ASSERT_EQ(header.size() + 4468, bytes.size());
    EXPECT_EQ(toHex(header.data()), hexPrefix(bytes, header.size()));
    EXPECT_EQ("00 00 FA 44", toHex(std::vector<uint8_t>(bytes.end() - 4, bytes.end())));  // 2000.0f
    EXPECT_TRUE(same(halves(4001), readCompressed<float>(bytes)));
}

TEST(CompressedArray, EmptyArrayHasEmptyTableAndData) {
    auto bytes = compressedBytes(zt::array1<zt::vec3f>());
    EXPECT_EQ(toHex(ByteBuilder().u8(1).i64(0).i64(4000).i64(0).u8(0).i64(0).i64(0).data()), toHex(bytes));
    EXPECT_EQ(0, readCompressed<zt::vec3f>(bytes).count());
}

TEST(CompressedArray, UncompressedIsAMarkAndAPlainArray) {
    auto a = sample<zt::vec2i>(5000);
    auto bytes = compressedBytes(a, false);
    ASSERT_EQ(1 + 8 + 5000 * 8u, bytes.size());
    EXPECT_EQ(toHex(ByteBuilder().u8(0).i64(5000).data()), hexPrefix(bytes, 9));
    EXPECT_TRUE(same(a, readCompressed<zt::vec2i>(bytes)));
}

template <class T>
void expectRoundTrips() {
    for (int64_t n : {0, 63, 4000, 8001}) {
        auto a = sample<T>(n);
        for (bool compress : {true, false})
            EXPECT_TRUE(same(a, readCompressed<T>(compressedBytes(a, compress)))) << n << " " << compress;
    }
}

TEST(CompressedArray, RoundTripsEveryElementType) {
    expectRoundTrips<int>();
    expectRoundTrips<float>();
    expectRoundTrips<int64_t>();
    expectRoundTrips<zt::vec2i>();
    expectRoundTrips<zt::vec2f>();
    expectRoundTrips<zt::vec3i>();
    expectRoundTrips<zt::vec3f>();
    expectRoundTrips<zt::vec4i>();
    expectRoundTrips<zt::vec4f>();
}

TEST(CompressedArray, OneAndTwoThreadsGiveTheSameBytesAndElements) {
    auto a = sample<zt::vec3f>(50001);
    std::vector<uint8_t> one, two;
    {
        ThreadCount threads(1);
        one = compressedBytes(a);
    }
    {
        ThreadCount threads(2);
        two = compressedBytes(a);
    }
    EXPECT_EQ(one, two);
    for (int n : {1, 2}) {
        ThreadCount threads(n);
        EXPECT_TRUE(same(a, readCompressed<zt::vec3f>(one))) << n;
    }
}

TEST(CompressedArray, DamagedPieceIsADataError) {
    auto bytes = compressedBytes(halves(4001));
    // The last byte of the first piece's checksum; the pieces start after 106 bytes.
    bytes[106 + 4464 - 1] ^= 0x5A;
    for (int n : {1, 2}) {
        ThreadCount threads(n);
        InputFile file(bytes);
        zt::array1<float> a;
        std::string error = errorOf([&] { Cb::readCompressedArray(a, file.in()); });
        EXPECT_EQ(0u, error.find("ZTP Decompression Data Error:")) << error;
        EXPECT_EQ(0, a.count());
    }
}

TEST(CompressedArray, PieceTablesThatLieAreRefusedBeforeInflating) {
    const std::vector<uint8_t> eightBytes(8, 1);
    const std::string piece = kMarkError + ": piece ";
    EXPECT_EQ(kMarkError + ": its piece table holds 3 values, not four per piece",
              readError(chunked(2, {0, 8, kRaw}, eightBytes)));
    EXPECT_EQ(piece + "0 lies outside the data", readError(chunked(2, {4, 8, kRaw, 0}, eightBytes)));
    EXPECT_EQ(piece + "0 lies outside the data", readError(chunked(2, {kRaw, 8, kRaw, 0}, eightBytes)));
    EXPECT_EQ(piece + "0 lies outside the data", readError(chunked(2, {8, kRaw, kRaw, 0}, eightBytes)));
    EXPECT_EQ(piece + "0 holds a partial element", readError(chunked(2, {0, 6, kRaw, 0}, eightBytes)));
    EXPECT_EQ(piece + "1 lies outside the array", readError(chunked(2, {0, 4, kRaw, 0, 4, 4, kRaw, 2}, eightBytes)));
    EXPECT_EQ(piece + "0 lies outside the array", readError(chunked(2, {0, 8, kRaw, kRaw}, eightBytes)));
    EXPECT_EQ(piece + "0 announces more elements than its bytes can hold",
              readError(chunked(int64_t(1) << 40, {0, 8, uint64_t(1) << 40, 0}, eightBytes)));
    EXPECT_EQ(kMarkError + ": two pieces hold element 1",
              readError(chunked(3, {0, 8, kRaw, 0, 0, 8, kRaw, 1}, eightBytes)));
    EXPECT_EQ(kMarkError + ": its pieces hold 2 of 3 elements", readError(chunked(3, {0, 8, kRaw, 1}, eightBytes)));
    EXPECT_EQ(kMarkError + ": its pieces hold 0 of 4611686018427387904 elements",
              readError(chunked(int64_t(1) << 62, {}, {})));
    EXPECT_EQ(kSizeError, readError(chunked(-1, {}, {})));
    // Pieces may come in any order and empty pieces claim nothing.
    InputFile file(chunked(2, {4, 4, kRaw, 0, 0, 4, kRaw, 1, 8, 0, kRaw, 1}, {1, 0, 0, 0, 2, 0, 0, 0}));
    zt::array1<int> a;
    Cb::readCompressedArray(a, file.in());
    ASSERT_EQ(2, a.count());
    EXPECT_EQ(2, a[0]);
    EXPECT_EQ(1, a[1]);
}

TEST(CompressedArray, CutAtEveryByte) {
    auto read = [](Cb::ZtpInput& in) {
        zt::array1<float> a;
        Cb::readCompressedArray(a, in);
    };
    // 100 floats make one zlib piece of 199 bytes.
    auto packed = compressedBytes(halves(100));
    iotest::expectCutErrors(packed,
                            {{1, kMarkError},
                             {9, kSizeError},
                             {17, kChunkError},
                             {25, kSizeError},
                             {26, kMarkError},
                             {34, kArraySizeError},
                             {66, kArrayDataError},
                             {74, kArraySizeError},
                             {74 + 199, kArrayDataError}},
                            read);
    iotest::expectCutErrors(compressedBytes(halves(3), false),
                            {{1, kMarkError}, {9, kArraySizeError}, {21, kArrayDataError}}, read);
}

TEST(CompressedArray, FullStreamFailsWithTheTextOfTheFieldBeingWritten) {
    iotest::expectWriteLimitErrors({{1, "Error writing compressed array"},
                                    {9, "Error writing compressed array size"},
                                    {17, "Error writing compressed array chunk size"},
                                    {25, "Error writing compressed array size"},
                                    {26, "Error writing compressed array mark"},
                                    {34, "Error writing array size"},
                                    {66, "Error writing array data"},
                                    {74, "Error writing array size"},
                                    {74 + 199, "Error writing array data"}},
                                   [](Cb::ZtpOutput& out) { Cb::writeCompressedArray(halves(100), out, true); });
}

TEST(MarkedArray, SmallTablesArePlainLargeOnesCompressed) {
    auto values = [](int64_t n) {
        zt::array1<uint64_t> a(n);
        for (int64_t i = 0; i < n; ++i) a[i] = uint64_t(i) * 3;
        return a;
    };
    auto write = [](const zt::array1<uint64_t>& a) {
        return iotest::bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeMarkedArray(a, out); });
    };
    auto read = [](const std::vector<uint8_t>& bytes) {
        InputFile file(bytes);
        zt::array1<uint64_t> a;
        Cb::readMarkedArray(a, file.in());
        EXPECT_TRUE(file.atEnd());
        return a;
    };
    auto ten = write(values(10));  // 80 bytes: plain
    ASSERT_EQ(8 + 1 + 8 + 80u, ten.size());
    EXPECT_EQ(toHex(ByteBuilder().i64(10).u8(0).i64(10).u64(0).u64(3).data()), hexPrefix(ten, 33));
    EXPECT_TRUE(same(values(10), read(ten)));

    auto hundred = write(values(100));  // 800 bytes: zlib level 9 makes 206
    ASSERT_EQ(8 + 1 + 8 + 206u, hundred.size());
    EXPECT_EQ(toHex(ByteBuilder().i64(100).u8(1).i64(206).data()), hexPrefix(hundred, 17));
    EXPECT_TRUE(same(values(100), read(hundred)));

    auto words = iotest::bytesWritten([](Cb::ZtpOutput& out) { Cb::writeMarkedArray(sample<uint32_t>(1000), out); });
    InputFile file(words);
    zt::array1<uint32_t> back;
    Cb::readMarkedArray(back, file.in());
    EXPECT_TRUE(same(sample<uint32_t>(1000), back));
}

TEST(MarkedArray, CutAtEveryByte) {
    auto read = [](Cb::ZtpInput& in) {
        zt::array1<uint64_t> a;
        Cb::readMarkedArray(a, in);
    };
    iotest::expectCutErrors(ByteBuilder().i64(3).u8(0).i64(3).u64(1).u64(2).u64(3).data(),
                            {{8, kSizeError}, {9, kMarkError}, {17, kArraySizeError}, {41, kArrayDataError}}, read);
    zt::array1<uint64_t> hundred(100);
    hundred.fill(7);
    auto packed = iotest::bytesWritten([&](Cb::ZtpOutput& out) { Cb::writeMarkedArray(hundred, out); });
    iotest::expectCutErrors(
        packed, {{8, kSizeError}, {9, kMarkError}, {17, kArraySizeError}, {packed.size(), kArrayDataError}}, read);
}

TEST(MarkedArray, HostileCountsFail) {
    auto error = [](const ByteBuilder& bytes) {
        InputFile file(bytes);
        zt::array1<uint64_t> a;
        return errorOf([&] { Cb::readMarkedArray(a, file.in()); });
    };
    EXPECT_EQ(kSizeError, error(ByteBuilder().i64(-5).u8(0).i64(0)));
    // The plain array disagrees with the count in front of it.
    EXPECT_EQ(kSizeError, error(ByteBuilder().i64(2).u8(0).i64(1).u64(9)));
    EXPECT_EQ(kArrayDataError, error(ByteBuilder().i64(0).u8(0).i64(int64_t(1) << 62)));
    // 2^62 elements cannot come out of 12 bytes of zlib stream.
    EXPECT_EQ(kSizeError,
              error(ByteBuilder().i64(int64_t(1) << 62).u8(1).i64(12).hex("78 DA 63 60 18 D9 00 00 01 00 00 01")));
    // 256 zero bytes are 32 elements, not 31 or 33.
    EXPECT_EQ(0u, error(ByteBuilder().i64(33).u8(1).i64(12).hex("78 DA 63 60 18 D9 00 00 01 00 00 01"))
                      .find("ZTP Decompression Data Error:"));
    EXPECT_EQ(0u, error(ByteBuilder().i64(31).u8(1).i64(12).hex("78 DA 63 60 18 D9 00 00 01 00 00 01"))
                      .find("ZTP Decompression Buffer Error:"));
    EXPECT_EQ("<no error>", error(ByteBuilder().i64(32).u8(1).i64(12).hex("78 DA 63 60 18 D9 00 00 01 00 00 01")));
}
