#pragma once
// Channel statistics (minimum, maximum, mean of block means) gathered by
// workers over the blocks of a block array and combined afterwards.

#include <span>

#include "zt/block3.h"
#include "zt/vec.h"

namespace zt {

// Channel statistics from per-worker partials.
enum class block_statistic { min, max, mean };

struct statistic_partial {
    vec3f value;         // running min / max, or the sum of block means
    float blocks = 0.0f; // non-empty blocks seen
    bool saw = false;

    explicit statistic_partial(block_statistic which);
    // A non-empty block's own statistic joins the partial.
    void add(const block3_base& block, block_statistic which);
};

// Minimum and maximum over the partials that saw a block; the mean is the
// plain average of each such worker's mean of block means. False when no
// worker saw a block.
bool combinePartials(std::span<const statistic_partial> partials, block_statistic which, vec3f& result);

}  // namespace zt
