#pragma once
// The sample scene: a fountain jet rising from the middle of a round pool and
// falling back into it, with a cloud of mist around the jet. Units are metres
// and seconds, y points up, the pool floor lies at y = 0.
//
// Every particle is a pure function of (seed, index): it can be computed more
// than once and on any thread with the same bits, which is what lets the
// generator count particles per tile first and place them afterwards without
// holding them in between, and what makes a cache depend on the seed alone.

#include <cstdint>

#include "zt/vec.h"

namespace sample {

struct SampleParticle {
    zt::vec3f position;
    zt::vec3f velocity;
    float density;
};

// An axis-aligned box, bounds included.
struct Box {
    zt::vec3f lo;
    zt::vec3f hi;
};

// A uniform number in [0, 1) from a counter: the same arguments always give
// the same number, neighbouring arguments unrelated ones.
double uniform(uint64_t seed, uint64_t stream, uint64_t index, uint32_t draw);

// The particles of one body.
class ParticleSource {
public:
    virtual ~ParticleSource() = default;
    virtual int64_t count() const = 0;
    // Particle i, 0 <= i < count().
    virtual SampleParticle particle(int64_t i) const = 0;
    // Holds every particle's position.
    virtual Box bounds() const = 0;
};

// A source of `count` particles drawn from a seed.
class SeededSource : public ParticleSource {
public:
    SeededSource(uint64_t seed, int64_t count) : seed_(seed), count_(count) {}
    int64_t count() const override { return count_; }

protected:
    uint64_t seed_;
    int64_t count_;
};

// The pool: particles spread evenly through a disc of water whose surface
// carries rings of ripples around the jet, drifting outwards.
class PoolSource : public SeededSource {
public:
    using SeededSource::SeededSource;
    SampleParticle particle(int64_t i) const override;
    Box bounds() const override;

    static constexpr float kRadius = 4.0f;
    static constexpr float kDepth = 0.5f;
    static constexpr float kRippleHeight = 0.05f;

    // The water's height at distance r from the centre.
    static double surfaceHeight(double r);
    // The water's volume, ripples left out.
    static double volume();
};

// The fountain: drops leave a nozzle at the pool's surface upwards, fan out
// and fly on ballistic paths until they fall back to the surface. Ids count
// in launch order: particle 0 has flown longest, the last one just left the
// nozzle.
class JetSource : public SeededSource {
public:
    using SeededSource::SeededSource;
    SampleParticle particle(int64_t i) const override;
    Box bounds() const override;

    static constexpr float kSpeed = 6.0f;          // upwards, at the nozzle
    static constexpr float kSpread = 0.9f;         // largest sideways speed of the fan
    static constexpr float kJitter = 0.3f;         // random speed on each axis, at most
    static constexpr float kNozzleRadius = 0.05f;
    static constexpr float kGravity = 9.81f;
};

// How a particle total divides between the pool and the jet (3 in 10 fly).
struct SceneCounts {
    int64_t pool;
    int64_t jet;
};
SceneCounts splitCount(int64_t total);

// The voxel edge that gives the pool `perVoxel` particles per voxel, never
// coarser than kCoarsestVoxel nor finer than kFinestVoxel.
constexpr float kCoarsestVoxel = 0.1f;
constexpr float kFinestVoxel = 0.001f;
float liquidVoxelSize(int64_t poolCount, double perVoxel);

// The mist: a soft ellipsoidal cloud around the jet, densest in its middle,
// with a grain that depends on the seed and the voxel.
class Mist {
public:
    explicit Mist(uint64_t seed) : seed_(seed) {}
    // Density at p, for the voxel at integer coordinates `voxel`; 0 outside.
    float density(const zt::vec3f& p, const zt::vec3i& voxel) const;
    // Whether any point of the box lies inside the cloud.
    static bool touches(const Box& box);
    static Box bounds();

    static constexpr float kPeakDensity = 0.4f;

private:
    uint64_t seed_;
};

}  // namespace sample
