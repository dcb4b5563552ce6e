#include "zt/block_statistics.h"

#include <algorithm>
#include <cfloat>
#include <cstdint>

namespace zt {

namespace {

// What one worker gathers over its run of blocks.
struct statistic_partial {
    vec3f value;          // running min / max, or the sum of block means
    float blocks = 0.0f;  // non-empty blocks seen
    bool saw = false;

    explicit statistic_partial(block_statistic which) {
        const float start = which == block_statistic::min   ? FLT_MAX
                            : which == block_statistic::max ? -FLT_MAX
                                                            : 0.0f;
        value = {{start, start, start}};
    }

    void add(const vec3f& v, block_statistic which) {
        saw = true;
        for (int c = 0; c < 3; ++c) {
            switch (which) {
                case block_statistic::min: value[c] = std::min(value[c], v[c]); break;
                case block_statistic::max: value[c] = std::max(value[c], v[c]); break;
                case block_statistic::mean: value[c] += v[c]; break;
            }
        }
        if (which == block_statistic::mean) blocks += 1.0f;
    }
};

}  // namespace

std::optional<vec3f> blockStatistic(const block3_base& block, block_statistic which) {
    if (block.empty()) return std::nullopt;
    switch (which) {
        case block_statistic::min: return block.min3f();
        case block_statistic::max: return block.max3f();
        case block_statistic::mean: break;
    }
    return block.mean3f();
}

bool combineBlockStatistics(std::span<const std::optional<vec3f>> perBlock, int workers, block_statistic which,
                            vec3f& result) {
    const int64_t total = int64_t(perBlock.size());
    const int64_t n = std::max(workers, 1);
    const int64_t share = total / n, longer = total % n;
    statistic_partial combined(which);
    float counted = 0.0f;
    for (int64_t w = 0; w < n; ++w) {
        const int64_t begin = share * w + std::min(w, longer);
        const int64_t end = begin + share + (w < longer ? 1 : 0);
        statistic_partial mine(which);
        for (int64_t g = begin; g < end; ++g)
            if (perBlock[size_t(g)]) mine.add(*perBlock[size_t(g)], which);
        if (!mine.saw) continue;
        // Each worker's mean of block means counts once.
        if (which == block_statistic::mean)
            for (int c = 0; c < 3; ++c) mine.value[c] /= mine.blocks;
        combined.add(mine.value, which);
        counted += 1.0f;
    }
    if (!combined.saw) return false;
    if (which == block_statistic::mean)
        for (int c = 0; c < 3; ++c) combined.value[c] /= counted;
    result = combined.value;
    return true;
}

}  // namespace zt
