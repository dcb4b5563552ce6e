#include "ExportParticles.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "SceneWriter.h"
#include "Sequence.h"
#include "cb/factory/Startup.h"
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

// Prints a failure's message on standard error and keeps it for the caller.
void fail(ExportSummary* summary, const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (summary) {
        summary->failure = message;
        while (!summary->failure.empty() && summary->failure.back() == '\n') summary->failure.pop_back();
    }
}

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
        fail(summary, "Can't create output file!\n");
        return false;
    }
    FILE* f = file.get();
    if (std::fprintf(f, "GeomParticleSystem %s {\n  render_type=7;\n", pluginName) < 0) {
        if (summary) summary->failure = "Can't write to the output file";
        return false;
    }

    BoundingBox box;
    if (!writeListVectorHex(f, positions, "positions", box, true, frame)) {
        fail(summary, "Can't write vertices to file\n");
        return false;
    }
    const float scale = 1.0f / fps;
    if (!writeListVectorHex(f, velocities, "velocities", &scale, true, frame)) {
        fail(summary, "Can't write velocities to file\n");
        return false;
    }
    const int count = positions.count();
    if (!writeListIntHex(f, count, true, frame)) {
        fail(summary, "Can't write ids to file\n");
        return false;
    }
    if (!writeListFloatHex(f, radius, count, true, frame)) {
        fail(summary, "Can't write radii to file\n");
        return false;
    }
    // The flush makes a late failure (a full disk) a failure, not a success.
    if (std::fputs("  primary_visibility=1;\n}\n\n", f) < 0 || std::fflush(f) != 0) {
        if (summary) summary->failure = "Can't write to the output file";
        return false;
    }

    float centre[3];
    for (int a = 0; a < 3; ++a) centre[a] = (box.min[a] + box.max[a]) * 0.5f;
    if (summary) {
        summary->particles = count;
        for (int a = 0; a < 3; ++a) {
            summary->min[size_t(a)] = box.min[a];
            summary->max[size_t(a)] = box.max[a];
            summary->centre[size_t(a)] = centre[a];
        }
    }
    if (!printSummary) return true;
    std::printf("exported %d particles\n", count);
    std::printf("bounding box is (%.3f, %.3f, %.3f):(%.3f, %.3f, %.3f)\n", double(box.min[0]), double(box.min[1]),
                double(box.min[2]), double(box.max[0]), double(box.max[1]), double(box.max[2]));
    std::printf("center of the bounding box is (%.3f, %.3f, %.3f)\n", double(centre[0]), double(centre[1]),
                double(centre[2]));
    std::fflush(stdout);
    return true;
}

namespace {

using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

// The converter's own handle on the library: started once, stopped once.
class LibrarySession {
public:
    // A start-up that fails part-way is still ended, releasing what it made.
    LibrarySession() {
        started_ = true;
        try {
            Cb::begin(true);
        } catch (...) {
            stop();
            throw;
        }
    }
    ~LibrarySession() { stop(); }
    void stop() {
        if (started_) Cb::end();
        started_ = false;
    }

private:
    bool started_ = false;
};

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

    const int64_t blocks = body.layout().fineCount();
    for (int64_t t = 0; t < blocks; ++t) {
        if (shape.channel(positionIndex)->typeCode() != Cb::kTypeVec3f) continue;
        const int64_t n = appendChannelBlock(positions, shape, positionIndex, t);
        const bool usable = velocityIndex >= 0 && shape.channel(velocityIndex)->typeCode() == Cb::kTypeVec3f;
        appendVelocityBlock(velocities, shape, usable ? velocityIndex : -1, t, n);
    }
}

}  // namespace

int64_t appendChannelBlock(Sequence& sequence, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex) {
    const Vec3fChannel& channel = vec3fChannel(shape, channelIndex);
    channel.makeResident();
    const std::span<const zt::vec3f> elements = channel.blockElements(blockIndex);
    sequence.appendRange(elements.data(), int64_t(elements.size()));
    return int64_t(elements.size());
}

void appendVelocityBlock(Sequence& velocities, Cb::ParticleShape& shape, int channelIndex, int64_t blockIndex,
                         int64_t count) {
    std::span<const zt::vec3f> elements;
    if (channelIndex >= 0) {
        const Vec3fChannel& channel = vec3fChannel(shape, channelIndex);
        channel.makeResident();
        elements = channel.blockElements(blockIndex);
    }
    const int64_t present = std::min<int64_t>(count, int64_t(elements.size()));
    velocities.appendRange(elements.data(), present);
    const zt::vec3f zero{{0.0f, 0.0f, 0.0f}};
    for (int64_t i = present; i < count; ++i) *static_cast<zt::vec3f*>(velocities.append()) = zero;
}

bool exportParticles(const char* inputPath, const char* outputPath, const char* pluginName, float radius,
                     float fps, float frame) {
    return exportParticles(ExportRequest{inputPath, outputPath, pluginName, radius, fps, frame, true});
}

bool exportParticles(const ExportRequest& request, ExportSummary* summary) {
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
        fail(summary, std::string("Unhandled exception: ") + e.what() + "\n");
        positions.clear();
        velocities.clear();
        return false;
    }
    return writeParticleFile(request.outputPath.c_str(), request.pluginName.c_str(), request.radius, request.fps,
                             request.frame, positions, velocities, summary, request.printSummary);
}
