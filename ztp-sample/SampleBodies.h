#pragma once
// Filling bodies made from signatures with the sample scene: particles in the
// blocks of their tiles, the per-voxel particle count, the mist's density.
// Needs a started library with the signatures loaded.

#include <cstdint>
#include <memory>
#include <string>

#include "SampleScene.h"

namespace Cb {
class Body;
}

namespace sample {

// A body of a signature type (sections, values, shapes and channels as the
// signature declares them, the type as its signature name) under its own name. Throws the factory's "missing
// .Sig" error for an unknown type.
std::unique_ptr<Cb::Body> makeBody(const std::string& type, const std::string& name);

// Sets a component of a float value of the body to `number`, written with 4
// significant digits, and returns the number as the value now reads, so that
// what the body states and what is built from it agree.
float setFloatValue(Cb::Body& body, const std::string& valueName, double number, int component = 0);
// A component of a numeric value at time 0.
double numberValue(Cb::Body& body, const std::string& valueName, int component = 0);

// Gives the body a fresh tile layout of the cell size and tile size 9, the
// tiles the source's particles fall in (in ascending order of k, j, i) and
// the particles in the blocks of those tiles: "position", "velocity",
// "density" and running ids in "id64" (particle i gets id i; the channel
// continues at count()). Within a block particles keep ascending ids. The
// body's field shape, if any, follows the layout. Parallel; the result does
// not depend on the thread count.
//
// The signature language knows no 64-bit channel type, so a signature's
// "id64" channel is an int channel; it is replaced by the library's running
// id channel.
void placeParticles(Cb::Body& body, const ParticleSource& source, float cellSize);

// Sets the body's Field.particle-count channel to the number of particles in
// each fine voxel (the voxel holding the particle's position, as the library
// counts). Does nothing for a body without that channel.
void countParticles(Cb::Body& body);

// Gives the body a fresh tile layout of the cell size covering the mist and
// sets its Field.density channel from it at each voxel's sample point.
void fillMist(Cb::Body& body, const Mist& mist, float cellSize);

}  // namespace sample
