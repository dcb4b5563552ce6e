#pragma once
// Particle bodies for tests that write and read ZTP files. Needs a started
// library (Cb::begin) for the registries.

#include <memory>
#include <string>
#include <vector>

#include "cb/model/Body.h"
#include "zt/vec.h"

namespace testsupport {

struct ParticleBodySpec {
    std::string name;
    std::vector<zt::vec3f> positions;
    bool withVelocity = true;  // velocity of particle i: (i + 1, -(i + 1), 0.5)
    std::string signatureName = "Particle-Liquid";
};

// A body whose "Particle" shape holds the particles in the blocks of their
// tiles (cell size 1, 9 voxels per tile), with "position", optionally
// "velocity", and a float "density" channel.
std::unique_ptr<Cb::Body> makeParticleBody(const ParticleBodySpec& spec);

// The velocity makeParticleBody gives particle i.
zt::vec3f velocityOf(int i);

// Writes the bodies to a version-16 file; returns the offset at which each
// body record starts.
std::vector<int64_t> writeBodies(const std::string& path, const std::vector<Cb::Body*>& bodies,
                                 bool compress = true);

}  // namespace testsupport
