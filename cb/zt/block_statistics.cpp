#include "zt/block_statistics.h"

#include <algorithm>
#include <cfloat>

namespace zt {

statistic_partial::statistic_partial(block_statistic which) {
    const float start = which == block_statistic::min ? FLT_MAX : which == block_statistic::max ? -FLT_MAX : 0.0f;
    value = {{start, start, start}};
}

void statistic_partial::add(const block3_base& block, block_statistic which) {
    if (block.empty()) return;
    saw = true;
    switch (which) {
        case block_statistic::min: {
            const vec3f m = block.min3f();
            for (int c = 0; c < 3; ++c) value[c] = std::min(value[c], m[c]);
            break;
        }
        case block_statistic::max: {
            const vec3f m = block.max3f();
            for (int c = 0; c < 3; ++c) value[c] = std::max(value[c], m[c]);
            break;
        }
        case block_statistic::mean: {
            const vec3f m = block.mean3f();
            for (int c = 0; c < 3; ++c) value[c] += m[c];
            blocks += 1.0f;
            break;
        }
    }
}

bool combinePartials(std::span<const statistic_partial> partials, block_statistic which, vec3f& result) {
    statistic_partial combined(which);
    float workers = 0.0f;
    for (const statistic_partial& p : partials) {
        if (!p.saw) continue;
        combined.saw = true;
        for (int c = 0; c < 3; ++c) {
            switch (which) {
                case block_statistic::min: combined.value[c] = std::min(combined.value[c], p.value[c]); break;
                case block_statistic::max: combined.value[c] = std::max(combined.value[c], p.value[c]); break;
                // Each worker's mean of block means counts once.
                case block_statistic::mean: combined.value[c] += p.value[c] / p.blocks; break;
            }
        }
        workers += 1.0f;
    }
    if (!combined.saw) return false;
    if (which == block_statistic::mean)
        for (int c = 0; c < 3; ++c) combined.value[c] /= workers;
    result = combined.value;
    return true;
}

}  // namespace zt
