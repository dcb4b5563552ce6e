#pragma once
// Particle bodies for tests that write and read ZTP files. Needs a started
// library (Cb::begin) for the registries.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cb/model/Body.h"
#include "zt/vec.h"

namespace testsupport {

struct ParticleBodySpec {
    std::string name;
    std::vector<zt::vec3f> positions;
    bool withVelocity = true;  // velocity of particle i: velocityOf(i)
    std::string signatureName = "Particle-Liquid";
};

inline zt::vec3f velocityOf(int i) { return {{float(i + 1), -float(i + 1), 0.5f}}; }

// A body whose "Particle" shape holds the particles, in the order given, in
// the blocks of their tiles (cell size 1, 9 voxels per tile), with
// "position", optionally "velocity", and a float "density" channel.
std::unique_ptr<Cb::Body> makeParticleBody(const ParticleBodySpec& spec);

// Writes bodies made from the specs, each changed by `edit` first, to a
// version-16 file, starting and stopping the library around it (quietly).
void writeParticleFile(const std::string& path, const std::vector<ParticleBodySpec>& specs,
                       const std::function<void(Cb::Body&)>& edit = [](Cb::Body&) {});

// Writes the bodies to a version-16 file; returns the offset at which each
// body record starts.
std::vector<int64_t> writeBodies(const std::string& path, const std::vector<Cb::Body*>& bodies,
                                 bool compress = true);

}  // namespace testsupport
