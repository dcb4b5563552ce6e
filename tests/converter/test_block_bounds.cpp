// A block's effect on the bounding box, found on its own (and eight lanes at
// a time where it can), applied in order, gives exactly the box that widening
// by every position in order gives: NaNs, infinities and signed zeros
// included, blocks cut into runs anywhere.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "BlockBounds.h"
#include "SceneWriter.h"

namespace {

std::vector<uint32_t> bitsOf(const BoundingBox& box) {
    std::vector<uint32_t> bits;
    for (int a = 0; a < 3; ++a) bits.push_back(std::bit_cast<uint32_t>(box.min[a]));
    for (int a = 0; a < 3; ++a) bits.push_back(std::bit_cast<uint32_t>(box.max[a]));
    return bits;
}

TEST(BlockBounds, BlocksAppliedInOrderGiveTheBoxOfEveryPositionInOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float specials[] = {0.0f, -0.0f, nan, inf, -inf, 1.0f, -1.0f};
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        // Some rounds without NaNs (the fast path), some with; zeros often,
        // and in some rounds every other value on one side of zero, so that
        // zeros of either sign are the extremes.
        const int kind = round % 4, side = (round / 4) % 3;
        std::vector<std::vector<float>> blocks(1 + rng() % 6);
        for (auto& block : blocks) {
            block.resize(3 * (rng() % 60));
            for (float& c : block) {
                const unsigned pick = rng() % 10;
                if (pick < 3) c = specials[rng() % (kind == 0 ? 2 : kind == 1 ? 5 : 7)];
                else c = float(int(rng() % 2001) - (side == 0 ? 1000 : 0)) * (side == 2 ? -0.25f : 0.25f);
            }
        }
        BoundingBox expected, got;
        for (const auto& block : blocks)
            for (size_t i = 0; i < block.size(); i += 3) expected.widen(&block[i]);
        for (const auto& block : blocks) {
            BlockBounds bounds;
            // Cut into runs, as blocks that stream through are.
            const size_t positions = block.size() / 3;
            for (size_t at = 0; at < positions;) {
                const size_t run = std::min(positions - at, size_t(1 + rng() % 40));
                bounds.add(block.data() + 3 * at, int64_t(run));
                at += run;
            }
            bounds.applyTo(got);
        }
        EXPECT_EQ(bitsOf(expected), bitsOf(got));
    }
}

}  // namespace
