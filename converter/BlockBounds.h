#pragma once
// What one block of positions does to the bounding box, found on its own, so
// that blocks read on any thread and in any order combine into exactly the
// box that widening by every position in export order gives: the box keeps
// its comparisons (min takes a coordinate when min >= it, max unless max > it),
// so NaNs and signed zeros land where they would.

#include <cstdint>

#include "SceneWriter.h"

class BlockBounds {
public:
    // Positions (x, y, z floats) in export order; may be called for
    // consecutive runs of one block.
    void add(const float* xyz, int64_t count);

    // Widens the box by the block, as widening by each of its positions would.
    void applyTo(BoundingBox& box) const {
        for (int a = 0; a < 3; ++a) {
            if (hasMin_[a] && box.min[a] >= min_[a]) box.min[a] = min_[a];
            if (maxMode_[a] == MaxMode::Reset)
                box.max[a] = max_[a];
            else if (maxMode_[a] == MaxMode::Fold && !(box.max[a] > max_[a]))
                box.max[a] = max_[a];
        }
    }

private:
    // Runs without NaNs: the extremes found eight lanes at a time; false
    // (nothing done) when the run holds a NaN or the processor lacks AVX.
    bool addWithoutNaNs(const float* xyz, int64_t count);

    // A NaN makes the maximum NaN, and the next coordinate replaces a NaN
    // maximum whatever it is: after a NaN, the block's result no longer
    // depends on the box it started from.
    enum class MaxMode : uint8_t { Empty, Fold, Reset };

    void take(int a, float c) {
        if (c == c) {
            if (!hasMin_[a] || min_[a] >= c) min_[a] = c;
            hasMin_[a] = true;
        }
        if (c != c) {
            maxMode_[a] = MaxMode::Reset;
            max_[a] = c;
        } else if (maxMode_[a] == MaxMode::Empty) {
            maxMode_[a] = MaxMode::Fold;
            max_[a] = c;
        } else if (!(max_[a] > c)) {
            max_[a] = c;
        }
    }

    float min_[3] = {0, 0, 0};
    float max_[3] = {0, 0, 0};
    bool hasMin_[3] = {false, false, false};
    MaxMode maxMode_[3] = {MaxMode::Empty, MaxMode::Empty, MaxMode::Empty};
};
