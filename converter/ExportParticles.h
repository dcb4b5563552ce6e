#pragma once
// The export driver: gathers the positions and velocities of every particle of
// a ZTP file and writes them as one GeomParticleSystem plugin.

#include <array>
#include <cstdint>
#include <string>

class Sequence;
namespace Cb {
class ParticleShape;
}

// Elements per block of the two particle sequences.
constexpr int kParticleBlockCapacity = 20000;

// One conversion: the six command-line values, and whether the three summary
// lines go to standard output.
struct ExportRequest {
    std::string inputPath;
    std::string outputPath;
    std::string pluginName;
    float radius = 0.0f;
    float fps = 24.0f;
    float frame = 1.0f;
    bool printSummary = true;
};

// What a conversion did: on success the particles written, the bounding box of
// their positions and its centre (as the summary lines print them); on failure
// the message that was printed on standard error for it.
struct ExportSummary {
    int64_t particles = 0;
    std::array<float, 3> min{};
    std::array<float, 3> max{};
    std::array<float, 3> centre{};
    std::string failure;
};

// True when the whole output file was written. Diagnostics go to standard
// error; `summary`, when given, receives the result either way.
bool exportParticles(const ExportRequest& request, ExportSummary* summary = nullptr);
// The command line's form: prints the summary.
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
// prints the summary on standard output (unless `summary` is given and its
// request says otherwise). Both sequences are freed on every return path.
// Failures print their message on standard error and give false.
bool writeParticleFile(const char* outputPath, const char* pluginName, float radius, float fps, float frame,
                       Sequence& positions, Sequence& velocities, ExportSummary* summary = nullptr,
                       bool printSummary = true);
