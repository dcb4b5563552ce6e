#pragma once
// The export driver: gathers the positions and velocities of every particle of
// a ZTP file and writes them as one GeomParticleSystem plugin.

#include <cstdint>

class Sequence;
namespace Cb {
class ParticleShape;
}

// Elements per block of the two particle sequences.
constexpr int kParticleBlockCapacity = 20000;

// True when the whole output file was written.
bool exportParticles(const char* inputPath, const char* outputPath, const char* pluginName, float radius,
                     float fps, float frame);

// Appends the elements of global block `blockIndex` of the shape's vec3f
// particle channel `channelIndex` to the sequence, making the channel's data
// resident first; returns how many were appended (0 for a block that does not
// exist). A channel of another type throws the typed lookup's "wrong channel
// type" error.
int64_t appendChannelBlock(Sequence& sequence, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex);

// Appends to `velocities` exactly `count` velocities for the particles of one
// block: element i of the velocity channel's block where it has one, zero
// after; all zero without a usable channel (channelIndex < 0).
void appendVelocityBlock(Sequence& velocities, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex,
                         int64_t count);

// The writing half: opens the output, writes the plugin with its four lists,
// prints the summary on standard output. Both sequences are freed on every
// return path. Failures print their message on standard error and give false.
bool writeParticleFile(const char* outputPath, const char* pluginName, float radius, float fps, float frame,
                       Sequence& positions, Sequence& velocities);
