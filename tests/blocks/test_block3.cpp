// Single blocks: statistics, resizing, swap-with-last removal, decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "MessageOf.h"
#include "zt/block3.h"
#include "zt/compression_buffer.h"

namespace {

using testsupport::messageOf;
using zt::block3;
using zt::vec3f;
using zt::vec3i;

template <class T>
std::vector<T> contents(const block3<T>& b) {
    return std::vector<T>(b.data(), b.data() + b.count());
}

TEST(Block3Statistics, EmptyBlocksGiveZero) {
    block3<int> ints(0, 0, 0, 7);
    block3<vec3f> vecs(0, 0, 0);
    for (const vec3f& s : {ints.min3f(), ints.max3f(), ints.mean3f(), vecs.min3f(), vecs.max3f(), vecs.mean3f()})
        EXPECT_EQ(s, (vec3f{{0, 0, 0}}));
}

TEST(Block3Statistics, ScalarsAreReplicatedAndIntegerMeansTruncated) {
    block3<int> b(0, 0, 0);
    for (int v : {-3, 4, 8}) b.append(v);
    EXPECT_EQ(b.min3f(), (vec3f{{-3, -3, -3}}));
    EXPECT_EQ(b.max3f(), (vec3f{{8, 8, 8}}));
    // 9 / 3 = 3; (-3 + 4 + 4) / 3 = 1.666 truncates to 1.
    EXPECT_EQ(b.mean3f(), (vec3f{{3, 3, 3}}));
    b[2] = 4;
    EXPECT_EQ(b.mean3f(), (vec3f{{1, 1, 1}}));
}

TEST(Block3Statistics, IntegerExtremesStartAtTheNegatedLargestValue) {
    block3<int> ints(0, 0, 0);
    ints.append(INT32_MIN);
    // The maximum starts at -2147483647, which INT32_MIN never beats.
    EXPECT_EQ(ints.max3f()[0], -2147483647.0f);
    EXPECT_EQ(ints.min3f()[0], float(INT32_MIN));
    block3<int8_t> bytes(0, 0, 0);
    bytes.append(-128);
    EXPECT_EQ(bytes.max3f()[0], -127.0f);
}

TEST(Block3Statistics, LargeIntegerSumsDoNotOverflow) {
    block3<int> b(0, 0, 0);
    for (int r = 0; r < 4; ++r) b.append(2000000000);
    EXPECT_EQ(b.mean3f()[0], 2000000000.0f);
    block3<int64_t> ids(0, 0, 0);
    for (int r = 0; r < 4; ++r) ids.append(INT64_MAX - 1);
    EXPECT_GT(ids.mean3f()[0], 9.2e18f);
}

TEST(Block3Statistics, VectorsPerComponent) {
    block3<vec3i> b(0, 0, 0);
    b.append({{1, 10, -5}});
    b.append({{3, -10, 6}});
    EXPECT_EQ(b.min3f(), (vec3f{{1, -10, -5}}));
    EXPECT_EQ(b.max3f(), (vec3f{{3, 10, 6}}));
    EXPECT_EQ(b.mean3f(), (vec3f{{2, 0, 0}}));  // 0.5 truncates to 0
}

TEST(Block3Resize, GrowingFillsWithTheDefaultAndMarksFollowTheCount) {
    block3<float> b(1, 2, 3, 2.5f);
    b.append(1.0f);
    b.resize(3);
    EXPECT_EQ(contents(b), (std::vector<float>{1.0f, 2.5f, 2.5f}));
    b.resizeMarks();
    EXPECT_EQ(b.marks().count(), 3);
    b.reserveMore(10);
    EXPECT_GE(b.capacity(), 13);
    b.squeeze();
    EXPECT_EQ(b.capacity(), 3);
    EXPECT_NEAR(b.memoryMB(), 12e-6f, 1e-9f);
    EXPECT_EQ(b.coord(), (vec3i{{1, 2, 3}}));
    EXPECT_NE(messageOf([&] { b.resize(int64_t(1) << 31); }), "(no failure)");
}

TEST(Block3Erase, SetRemovesFromTheLargestIndexDown) {
    block3<int> b(0, 0, 0);
    for (int v : {'a', 'b', 'c', 'd', 'e'}) b.append(v);
    b.eraseSet({1, 3});
    EXPECT_EQ(contents(b), (std::vector<int>{'a', 'e', 'c'}));
}

TEST(Block3Erase, AscendingListRemovesFromItsLastEntry) {
    block3<int> b(0, 0, 0);
    for (int v : {0, 1, 2, 3, 4, 5}) b.append(v);
    zt::array1<int> indices;
    for (int i : {0, 2, 5, 99, -1}) indices.push_back(i);
    b.eraseIndices(indices);
    // -1 and 99 are ignored; 5 goes, then 2 takes 4, then 0 takes 3.
    EXPECT_EQ(contents(b), (std::vector<int>{3, 1, 4}));
}

TEST(Block3Erase, EmptiedBlockFreesItsStorage) {
    block3<vec3f> b(0, 0, 0);
    for (int r = 0; r < 100; ++r) b.append({{float(r), 0, 0}});
    std::set<int> all;
    for (int r = 0; r < 100; ++r) all.insert(r);
    b.eraseSet(all);
    EXPECT_EQ(b.count(), 0);
    EXPECT_EQ(b.capacity(), 0);
    b.append({{1, 2, 3}});
    zt::array1<int> one;
    one.push_back(0);
    b.eraseIndices(one);
    EXPECT_EQ(b.capacity(), 0);
}

TEST(Block3Decode, RawAndCompressedBytes) {
    std::vector<vec3f> values;
    for (int r = 0; r < 100; ++r) values.push_back({{float(r), float(r) * 0.5f, 1.0f}});
    const size_t bytes = values.size() * sizeof(vec3f);

    block3<vec3f> raw(0, 0, 0);
    raw.decode(reinterpret_cast<const uint8_t*>(values.data()), bytes, zt::kRawPiece);
    EXPECT_EQ(contents(raw), values);

    const zt::array1<uint8_t> packed = zt::compressBuffer(values.data(), bytes);
    ASSERT_FALSE(packed.empty());
    block3<vec3f> inflated(0, 0, 0);
    inflated.decode(packed.data(), uint64_t(packed.count()), values.size());
    EXPECT_EQ(contents(inflated), values);
}

TEST(Block3Decode, RefusesImpossibleSizesAndKeepsTheElements) {
    block3<int> b(0, 0, 0);
    b.append(42);
    const uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(messageOf([&] { b.decode(bytes, 7, zt::kRawPiece); }),
              "Cannot decode 7 raw bytes as whole particle block elements of 4 bytes");
    EXPECT_EQ(messageOf([&] { b.decode(bytes, 7, 1000000); }),
              "Cannot decode 7 compressed bytes into 1000000 particle block elements");
    EXPECT_EQ(messageOf([&] { b.decode(bytes, 7, 1); }).rfind("ZTP Decompression", 0), 0u);
    EXPECT_EQ(contents(b), std::vector<int>{42});
}

}  // namespace
