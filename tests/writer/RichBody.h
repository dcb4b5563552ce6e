#pragma once
// A body holding a bit of everything a ZTP body record can carry: values of
// every type in sections (with "Stepping" added after another), enumerated
// groups, a layout of tile size 4 with fine and coarse tiles, and all six
// shape kinds with channels of every element type. Needs a started library.

#include <memory>
#include <string>
#include <vector>

#include "cb/model/Body.h"
#include "zt/vec.h"

namespace writertest {

// Fine tiles (0,0,0), (1,0,0), (-1,2,3) at cell size 0.5, tile size 4, with
// their coarse shell.
std::unique_ptr<Cb::Body> makeRichBody(const std::string& name);

// Only the particle shape (position, velocity, density) over the same layout;
// the first fine block holds 300 particles, so that it compresses.
std::unique_ptr<Cb::Body> makeParticleOnlyBody(const std::string& name);

// The positions and velocities of the particles in fine blocks (list 0), in
// global block order: what the converter exports.
std::vector<zt::vec3f> finePositions(const Cb::Body& body);
std::vector<zt::vec3f> fineVelocities(const Cb::Body& body);

}  // namespace writertest
