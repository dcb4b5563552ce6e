#include "SampleScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sample {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Streams keep the bodies' numbers apart under one seed.
constexpr uint64_t kPoolStream = 1;
constexpr uint64_t kJetStream = 2;
constexpr uint64_t kMistStream = 3;

constexpr double kRippleLength = 0.8;  // metres between ripple crests

constexpr zt::vec3f kMistCentre{{0.0f, PoolSource::kDepth + 1.2f, 0.0f}};
constexpr zt::vec3f kMistRadii{{1.5f, 1.3f, 1.5f}};

// The splitmix64 finaliser: a bijection on 64 bits that scatters nearby inputs.
uint64_t mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double toUnit(uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

uint64_t particleKey(uint64_t seed, uint64_t stream, uint64_t index) { return mix(mix(mix(seed) ^ stream) ^ index); }

// The numbers of one particle, drawn in a fixed order.
class Draws {
public:
    Draws(uint64_t seed, uint64_t stream, uint64_t index) : key_(particleKey(seed, stream, index)) {}
    double next() { return toUnit(mix(key_ ^ ++draw_)); }
    // Uniform in [-1, 1).
    double signedNext() { return 2.0 * next() - 1.0; }

private:
    uint64_t key_;
    uint64_t draw_ = 0;
};

double squared(double x) { return x * x; }

zt::vec3f vec3(double x, double y, double z) { return {{float(x), float(y), float(z)}}; }

}  // namespace

double uniform(uint64_t seed, uint64_t stream, uint64_t index, uint32_t draw) {
    return toUnit(mix(particleKey(seed, stream, index) ^ (uint64_t(draw) + 1)));
}

// ---------------------------------------------------------------------------
// pool

double PoolSource::surfaceHeight(double r) {
    return kDepth + kRippleHeight * std::cos(kTwoPi * r / kRippleLength) * std::exp(-0.5 * r);
}

double PoolSource::volume() { return std::numbers::pi * squared(kRadius) * kDepth; }

SampleParticle PoolSource::particle(int64_t i) const {
    Draws d(seed_, kPoolStream, uint64_t(i));
    // The square root spreads the particles evenly over the disc's area.
    const double r = kRadius * std::sqrt(d.next());
    const double angle = kTwoPi * d.next();
    const double surface = surfaceHeight(r);
    const double y = d.next() * surface;
    const double c = std::cos(angle), s = std::sin(angle);
    const double outward = 0.25 * std::exp(-r);
    const double bob = 0.2 * std::sin(kTwoPi * r / kRippleLength) * std::exp(-0.5 * r) * (y / surface);
    const double stir = 0.02;
    SampleParticle p;
    p.position = vec3(r * c, y, r * s);
    p.velocity = vec3(outward * c + stir * d.signedNext(), bob + stir * d.signedNext(), outward * s + stir * d.signedNext());
    // Slightly denser with depth.
    p.density = float(1000.0 * (1.0 + 5e-4 * (surface - y) / kDepth));
    return p;
}

Box PoolSource::bounds() const {
    return {{{-kRadius, 0.0f, -kRadius}}, {{kRadius, kDepth + kRippleHeight, kRadius}}};
}

// ---------------------------------------------------------------------------
// jet

SampleParticle JetSource::particle(int64_t i) const {
    Draws d(seed_, kJetStream, uint64_t(i));
    // The share of its flight a drop has behind it: ids count in launch order.
    const double age = 1.0 - (double(i) + 0.5) / double(count_);
    const double fanAngle = kTwoPi * d.next();
    // Squared, so most drops stay near the jet's axis.
    const double fan = kSpread * squared(d.next());
    const double vx = fan * std::cos(fanAngle) + kJitter * d.signedNext();
    const double vy = kSpeed + kJitter * d.signedNext();
    const double vz = fan * std::sin(fanAngle) + kJitter * d.signedNext();
    const double nozzle = kNozzleRadius * std::sqrt(d.next());
    const double nozzleAngle = kTwoPi * d.next();
    // Back at the surface after 2 vy / g.
    const double t = age * 2.0 * vy / kGravity;
    SampleParticle p;
    p.position = vec3(nozzle * std::cos(nozzleAngle) + vx * t, PoolSource::kDepth + vy * t - 0.5 * kGravity * t * t,
                      nozzle * std::sin(nozzleAngle) + vz * t);
    p.velocity = vec3(vx, vy - kGravity * t, vz);
    // Spray carries air.
    p.density = float(1000.0 * (0.85 + 0.15 * d.next()));
    return p;
}

Box JetSource::bounds() const {
    const double rise = double(kSpeed) + kJitter;
    const double flight = 2.0 * rise / kGravity;
    const float side = float(kNozzleRadius + (double(kSpread) + kJitter) * flight);
    const float top = float(PoolSource::kDepth + rise * rise / (2.0 * kGravity));
    return {{{-side, PoolSource::kDepth, -side}}, {{side, top, side}}};
}

// ---------------------------------------------------------------------------
// scene

SceneCounts splitCount(int64_t total) {
    const int64_t jet = total / 10 * 3 + total % 10 * 3 / 10;
    return {total - jet, jet};
}

float liquidVoxelSize(int64_t poolCount, double perVoxel) {
    if (poolCount <= 0 || !(perVoxel > 0.0)) return kCoarsestVoxel;
    const double edge = std::cbrt(perVoxel * PoolSource::volume() / double(poolCount));
    return std::clamp(float(edge), kFinestVoxel, kCoarsestVoxel);
}

// ---------------------------------------------------------------------------
// mist

float Mist::density(const zt::vec3f& p, const zt::vec3i& voxel) const {
    double q = 0.0;
    for (int a = 0; a < 3; ++a) q += squared((double(p[a]) - kMistCentre[a]) / kMistRadii[a]);
    if (q >= 1.0) return 0.0f;
    const uint64_t column = uint64_t(uint32_t(voxel[0])) | uint64_t(uint32_t(voxel[1])) << 32;
    const double grain = 0.75 + 0.5 * uniform(seed_, kMistStream, column, uint32_t(voxel[2]));
    return float(kPeakDensity * squared(1.0 - q) * grain);
}

bool Mist::touches(const Box& box) {
    double q = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double nearest = std::clamp(kMistCentre[a], box.lo[a], box.hi[a]);
        q += squared((nearest - kMistCentre[a]) / kMistRadii[a]);
    }
    return q < 1.0;
}

Box Mist::bounds() {
    Box box;
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = kMistCentre[a] - kMistRadii[a];
        box.hi[a] = kMistCentre[a] + kMistRadii[a];
    }
    return box;
}

}  // namespace sample
