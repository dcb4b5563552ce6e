#pragma once
// The export in its first form: every particle gathered into two sequences,
// the output written afterwards. Memory grows with the particle count, so the
// converter streams instead (StreamExport.h); this form stays as the plain
// statement of what the output must be, which the streaming export is tested
// against byte for byte, and for callers that hold sequences already.

#include <cstdint>

#include "ExportParticles.h"

class Sequence;
namespace Cb {
class ParticleShape;
}

// Elements per block of the two particle sequences.
constexpr int kParticleBlockCapacity = 20000;

// As exportParticles, gathering first.
bool exportParticlesGathered(const ExportRequest& request, ExportSummary* summary = nullptr);

// Appends the elements of global block `blockIndex` of the shape's vec3f
// particle channel `channelIndex` to the sequence, loading that block alone
// when it is still in the file; returns how many were appended (0 for a block
// that does not exist). A channel of another type throws the typed lookup's "wrong channel
// type" error.
int64_t appendChannelBlock(Sequence& sequence, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex);

// Appends to `velocities` exactly `count` velocities for the particles of one
// block: element i of the velocity channel's block where it has one, zero
// after; all zero without a usable channel (channelIndex < 0).
void appendVelocityBlock(Sequence& velocities, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex,
                         int64_t count);

// The writing half: opens the output, writes the plugin with its four lists,
// prints the summary on standard output (when asked). Both sequences are
// freed on every return path. Failures print their message on standard error
// and give false.
bool writeParticleFile(const char* outputPath, const char* pluginName, float radius, float fps, float frame,
                       Sequence& positions, Sequence& velocities, ExportSummary* summary = nullptr,
                       bool printSummary = true);
