#pragma once
// Channel statistics (minimum, maximum, mean of block means) of a block
// array: each block's own statistic, and their combination as the workers of
// a team of a given size combine them.

#include <optional>
#include <span>

#include "zt/block3.h"
#include "zt/vec.h"

namespace zt {

enum class block_statistic { min, max, mean };

// A block's own statistic; none for an empty block.
std::optional<vec3f> blockStatistic(const block3_base& block, block_statistic which);

// The statistic from the blocks' own ones (in global block order, none for a
// missing or empty block) as `workers` workers give it, each taking an equal
// run of blocks in order (the first total % workers runs one block longer,
// as a static schedule deals them): minimum and maximum over the workers
// that saw a block; the mean is the plain average of each such worker's mean
// of block means. The result depends on `workers` only, never on the team
// that computed the blocks' own statistics. False when no block has one.
bool combineBlockStatistics(std::span<const std::optional<vec3f>> perBlock, int workers, block_statistic which,
                            vec3f& result);

}  // namespace zt
