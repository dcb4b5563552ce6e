#include "GatheredExport.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "LibrarySession.h"
#include "SceneWriter.h"
#include "Sequence.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/Channel.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"
#include "zt/vec.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Frees both sequences when the export ends, whichever way it ends.
struct SequenceRelease {
    Sequence& a;
    Sequence& b;
    ~SequenceRelease() {
        a.clear();
        b.clear();
    }
};

}  // namespace

bool writeParticleFile(const char* outputPath, const char* pluginName, float radius, float fps, float frame,
                       Sequence& positions, Sequence& velocities, ExportSummary* summary, bool printSummary) {
    SequenceRelease release{positions, velocities};

    FilePtr file(std::fopen(outputPath, "w"));
    if (!file) {
        reportFailure(summary, "Can't create output file!\n");
        return false;
    }
    FILE* f = file.get();
    if (std::fprintf(f, "GeomParticleSystem %s {\n  render_type=7;\n", pluginName) < 0) {
        if (summary) summary->failure = "Can't write to the output file";
        return false;
    }

    BoundingBox box;
    if (!writeListVectorHex(f, positions, "positions", box, true, frame)) {
        reportFailure(summary, "Can't write vertices to file\n");
        return false;
    }
    const float scale = 1.0f / fps;
    if (!writeListVectorHex(f, velocities, "velocities", &scale, true, frame)) {
        reportFailure(summary, "Can't write velocities to file\n");
        return false;
    }
    const int count = positions.count();
    if (!writeListIntHex(f, count, true, frame)) {
        reportFailure(summary, "Can't write ids to file\n");
        return false;
    }
    if (!writeListFloatHex(f, radius, count, true, frame)) {
        reportFailure(summary, "Can't write radii to file\n");
        return false;
    }
    // The flush makes a late failure (a full disk) a failure, not a success.
    if (std::fputs("  primary_visibility=1;\n}\n\n", f) < 0 || std::fflush(f) != 0) {
        if (summary) summary->failure = "Can't write to the output file";
        return false;
    }

    if (summary) summarize(*summary, count, box);
    if (printSummary) ::printSummary(count, box);
    return true;
}

namespace {

using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

const Vec3fChannel& vec3fChannel(const Cb::ParticleShape& shape, int channelIndex) {
    return *shape.channelAs<Vec3fChannel>(channelIndex);
}

// Copies a body's particles into the two sequences: every block of the
// layout's fine-tile list, positions and velocities always appended together
// so that the i-th velocity belongs to the i-th position.
void gatherBody(Cb::Body& body, Sequence& positions, Sequence& velocities) {
    Cb::ParticleShape& shape = *body.mutableParticleShape();
    int positionIndex = -1, velocityIndex = -1;
    for (int c = 0; c < shape.channelCount(); ++c) {
        try {
            const std::string name = shape.channel(c)->name();
            if (name == "position")
                positionIndex = c;
            else if (name == "velocity")
                velocityIndex = c;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "skipping channel(%d): %s", c + 1, e.what());
        }
    }
    if (positionIndex < 0) {
        std::fputs("No position for this body, skipping", stderr);
        return;
    }
    // The body is ours: private copies of the two channels load their data
    // here and free it with the body, while the reader's stored body keeps
    // its data in the file.
    shape.channel(positionIndex).detach();
    if (velocityIndex >= 0) shape.channel(velocityIndex).detach();

    // Positions first, then velocities: a damaged velocity block fails only
    // after every position block was read, as when whole channels loaded.
    const int64_t blocks = body.layout().fineCount();
    if (blocks == 0 || shape.channel(positionIndex)->typeCode() != Cb::kTypeVec3f) return;
    std::vector<int64_t> counts(static_cast<size_t>(blocks));
    for (int64_t t = 0; t < blocks; ++t) counts[size_t(t)] = appendChannelBlock(positions, shape, positionIndex, t);
    const bool usable = velocityIndex >= 0 && shape.channel(velocityIndex)->typeCode() == Cb::kTypeVec3f;
    for (int64_t t = 0; t < blocks; ++t)
        appendVelocityBlock(velocities, shape, usable ? velocityIndex : -1, t, counts[size_t(t)]);
}

}  // namespace

int64_t appendChannelBlock(Sequence& sequence, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex) {
    const Vec3fChannel& channel = vec3fChannel(shape, channelIndex);
    const std::span<const zt::vec3f> elements = channel.blockElements(blockIndex);
    sequence.appendRange(elements.data(), int64_t(elements.size()));
    return int64_t(elements.size());
}

void appendVelocityBlock(Sequence& velocities, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex,
                         int64_t count) {
    std::span<const zt::vec3f> elements;
    if (channelIndex >= 0) {
        elements = vec3fChannel(shape, channelIndex).blockElements(blockIndex);
    }
    const int64_t present = std::min<int64_t>(count, int64_t(elements.size()));
    velocities.appendRange(elements.data(), present);
    const zt::vec3f zero{{0.0f, 0.0f, 0.0f}};
    for (int64_t i = present; i < count; ++i) *static_cast<zt::vec3f*>(velocities.append()) = zero;
}

bool exportParticlesGathered(const ExportRequest& request, ExportSummary* summary) {
    if (summary) *summary = ExportSummary();
    Sequence positions(12, kParticleBlockCapacity);
    Sequence velocities(12, kParticleBlockCapacity);
    try {
        LibrarySession library;
        {
            Cb::ZtpReader reader(request.inputPath, "*", "Body");
            for (int i = 0; i < reader.bodyCount(); ++i) {
                std::unique_ptr<Cb::Body> body = reader.takeBody(i);
                if (!body || !body->hasShape("Particle")) continue;
                gatherBody(*body, positions, velocities);
            }
            // The reader and its bodies go before the library stops: bodies
            // made by plug-in code need that code until they are gone.
            reader.close();
        }
        library.stop();
    } catch (const std::exception& e) {
        reportFailure(summary, std::string("Unhandled exception: ") + e.what() + "\n");
        positions.clear();
        velocities.clear();
        return false;
    }
    return writeParticleFile(request.outputPath.c_str(), request.pluginName.c_str(), request.radius, request.fps,
                             request.frame, positions, velocities, summary, request.printSummary);
}
