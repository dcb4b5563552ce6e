// rand() and noise(): one integer hash (unsigned 32-bit wrap-around) feeds
// both the process-wide random sequence and the noise lattice.
#include <atomic>
#include <cmath>

#include "QelEvalHelpers.h"
#include "cb/qel/QelNodes.h"

namespace Cbp {

namespace {

constexpr uint32_t kHashKey = 0xA3C59AC3u;
constexpr uint32_t kHashPrime = 0x9E3779B9u;

uint32_t mix(uint32_t a) { return ((a >> 16) ^ a) * kHashPrime; }

// Every evaluation takes one counter value; shared by all threads.
std::atomic<uint32_t> g_randomCounter{QelRand::kFirstSeed};

}  // namespace

uint32_t qelHash(uint32_t value) { return mix(mix((value ^ kHashKey) * kHashPrime)); }

float QelRand::valueOf(uint32_t seed) { return float(qelHash(seed)) * 2.3283064e-10f; }

uint32_t QelRand::nextSeed() { return g_randomCounter.load(std::memory_order_relaxed); }

void QelRand::restartSequence(uint32_t seed) { g_randomCounter.store(seed, std::memory_order_relaxed); }

float QelRand::eval(const Cb::FrameTime&, int, int) {
    return valueOf(g_randomCounter.fetch_add(1, std::memory_order_relaxed));
}

QelNoise::QelNoise(bool isSigned) : signed_(isSigned) {
    for (int k = 0; k < kGradients; ++k) {
        const float theta = 2.0f * 3.14159265f * float(k) / float(kGradients);
        gradients_[k] = zt::vec2f{std::cos(theta), std::sin(theta)};
    }
}

float QelNoise::signedNoise(float x, float y) const {
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    const uint32_t i = uint32_t(detail::truncate(x0));
    const uint32_t j = uint32_t(detail::truncate(y0));
    const float fx = x - x0;
    const float fy = y - y0;

    // The lattice point's gradient, dotted with the offset from that point.
    auto corner = [&](uint32_t ci, uint32_t cj, float dx, float dy) {
        const uint32_t b = mix((qelHash(ci) ^ cj ^ kHashKey) * kHashPrime);
        const zt::vec2f& g = gradients_[(((b >> 16) ^ b) * 57u) & 127u];
        return g[0] * dx + g[1] * dy;
    };
    const float c00 = corner(i, j, fx, fy);
    const float c10 = corner(i + 1, j, fx - 1.0f, fy);
    const float c01 = corner(i, j + 1, fx, fy - 1.0f);
    const float c11 = corner(i + 1, j + 1, fx - 1.0f, fy - 1.0f);

    const float u = fx * fx * fx * (10.0f - (15.0f - 6.0f * fx) * fx);
    const float v = fy * fy * fy * (10.0f - (15.0f - 6.0f * fy) * fy);
    return (c00 * (1.0f - u) + c10 * u) * (1.0f - v) + (c01 * (1.0f - u) + c11 * u) * v;
}

float QelNoise::eval(const Cb::FrameTime& t, int c, int k) {
    const float n = signedNoise(operand(0, t, c, k), 33.97f);
    return signed_ ? n : (n + 1.0f) / 2.0f;
}

}  // namespace Cbp
