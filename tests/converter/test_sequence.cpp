// The chunked particle sequence.
#include <gtest/gtest.h>

#include <vector>

#include "ExportParticles.h"
#include "Sequence.h"
#include "zt/ztx.h"

namespace {
struct V3 {
    float x, y, z;
};

std::vector<float> drain(Sequence& s) {
    std::vector<float> xs;
    s.rewind();
    while (V3* v = s.nextAs<V3>()) xs.push_back(v->x);
    return xs;
}
}  // namespace

TEST(Sequence, TwentyThousandAndOneElementsTakeTwoBlocks) {
    Sequence s(12, kParticleBlockCapacity);
    for (int i = 0; i < 20001; ++i) *s.appendAs<V3>() = {float(i), 0, 0};
    EXPECT_EQ(20001, s.count());
    ASSERT_NE(nullptr, s.head());
    EXPECT_EQ(20000, s.head()->used);
    ASSERT_NE(nullptr, s.head()->next);
    EXPECT_EQ(1, s.head()->next->used);
    EXPECT_EQ(nullptr, s.head()->next->next);
    EXPECT_EQ(s.head(), s.head()->next->prev);
    EXPECT_EQ(2 * (20000 * 12 + sizeof(_SequenceBlock)), s.reservedBytes());

    std::vector<float> xs = drain(s);
    ASSERT_EQ(20001u, xs.size());
    for (int i = 0; i < 20001; ++i) ASSERT_EQ(float(i), xs[size_t(i)]);
    EXPECT_EQ(nullptr, s.next());  // stays at the end
}

TEST(Sequence, AppendRangeFillsAcrossBlockBoundaries) {
    Sequence s(12, 4);
    std::vector<V3> in;
    for (int i = 0; i < 11; ++i) in.push_back({float(i), float(-i), 1});
    *s.appendAs<V3>() = {-1, 0, 0};
    s.appendRange(in.data(), 10);
    s.appendRange(in.data() + 10, 1);
    s.appendRange(in.data(), 0);
    EXPECT_EQ(12, s.count());
    std::vector<float> xs = drain(s);
    std::vector<float> want{-1};
    for (int i = 0; i < 11; ++i) want.push_back(float(i));
    EXPECT_EQ(want, xs);
    int blocks = 0;
    for (const _SequenceBlock* b = s.head(); b; b = b->next) ++blocks;
    EXPECT_EQ(3, blocks);
}

TEST(Sequence, ClearReturnsToEmptyAndCanBeReused) {
    Sequence s(12, 2);
    for (int i = 0; i < 5; ++i) *s.appendAs<V3>() = {float(i), 0, 0};
    s.clear();
    EXPECT_EQ(0, s.count());
    EXPECT_EQ(0u, s.reservedBytes());
    EXPECT_EQ(nullptr, s.head());
    s.rewind();
    EXPECT_EQ(nullptr, s.next());
    *s.appendAs<V3>() = {9, 0, 0};
    EXPECT_EQ(std::vector<float>{9}, drain(s));
}

TEST(Sequence, ImpossibleBlockIsReportedAsAllocationFailure) {
    try {
        Sequence s(12, 0);
        FAIL();
    } catch (const ztx::base& e) {
        EXPECT_STREQ("[_SequenceBlock] Could not allocate memory", e.what());
    }
}
