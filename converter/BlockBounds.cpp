#include "BlockBounds.h"

#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace {

#ifdef __x86_64__
const bool kAvx = __builtin_cpu_supports("avx");
#endif

// The bits of the last coordinate of `axis` that equals zero: among equal
// extremes the later one wins, and only the zeros' signs tell equal values
// apart.
float lastZero(const float* xyz, int64_t count, int axis) {
    for (int64_t i = count - 1; i >= 0; --i)
        if (xyz[3 * i + axis] == 0.0f) return xyz[3 * i + axis];
    return 0.0f;
}

}  // namespace

void BlockBounds::add(const float* xyz, int64_t count) {
    if (count <= 0 || addWithoutNaNs(xyz, count)) return;
    for (int64_t i = 0; i < count; ++i)
        for (int a = 0; a < 3; ++a) take(a, xyz[3 * i + a]);
}

#ifdef __x86_64__
__attribute__((target("avx"))) bool BlockBounds::addWithoutNaNs(const float* xyz, int64_t count) {
    if (!kAvx || count < 16) return false;
    // Eight positions are 24 floats, three registers; lane j of register v
    // holds axis (8v + j) % 3.
    const float* f = xyz;
    __m256 lo[3], hi[3];
    for (int v = 0; v < 3; ++v) lo[v] = hi[v] = _mm256_loadu_ps(f + 8 * v);
    __m256 unordered = _mm256_setzero_ps();
    const int64_t whole = count / 8 * 8;
    for (int64_t i = 0; i < whole; i += 8) {
        for (int v = 0; v < 3; ++v) {
            const __m256 c = _mm256_loadu_ps(f + 3 * i + 8 * v);
            unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(c, c, _CMP_UNORD_Q));
            lo[v] = _mm256_min_ps(lo[v], c);
            hi[v] = _mm256_max_ps(hi[v], c);
        }
    }
    if (_mm256_movemask_ps(unordered) != 0) return false;
    float lows[24], highs[24];
    for (int v = 0; v < 3; ++v) {
        _mm256_storeu_ps(lows + 8 * v, lo[v]);
        _mm256_storeu_ps(highs + 8 * v, hi[v]);
    }
    float low[3], high[3];
    for (int a = 0; a < 3; ++a) low[a] = high[a] = xyz[a];
    for (int j = 0; j < 24; ++j) {
        low[j % 3] = lows[j] < low[j % 3] ? lows[j] : low[j % 3];
        high[j % 3] = highs[j] > high[j % 3] ? highs[j] : high[j % 3];
    }
    for (int64_t i = whole; i < count; ++i) {
        for (int a = 0; a < 3; ++a) {
            const float c = xyz[3 * i + a];
            if (c != c) return false;
            low[a] = c < low[a] ? c : low[a];
            high[a] = c > high[a] ? c : high[a];
        }
    }
    for (int a = 0; a < 3; ++a) {
        // The extremes as the fold in order keeps them: a zero's sign is the
        // last zero's.
        const float first = low[a] == 0.0f ? lastZero(xyz, count, a) : low[a];
        const float last = high[a] == 0.0f ? lastZero(xyz, count, a) : high[a];
        take(a, first);
        take(a, last);
    }
    return true;
}
#else
bool BlockBounds::addWithoutNaNs(const float*, int64_t) { return false; }
#endif
