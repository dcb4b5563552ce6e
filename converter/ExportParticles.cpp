#include "ExportParticles.h"

#include <cstdio>
#include <memory>

#include "SceneWriter.h"
#include "Sequence.h"

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
                       Sequence& positions, Sequence& velocities) {
    SequenceRelease release{positions, velocities};

    FilePtr file(std::fopen(outputPath, "w"));
    if (!file) {
        std::fputs("Can't create output file!\n", stderr);
        return false;
    }
    FILE* f = file.get();
    if (std::fprintf(f, "GeomParticleSystem %s {\n  render_type=7;\n", pluginName) < 0) return false;

    BoundingBox box;
    if (!writeListVectorHex(f, positions, "positions", box, true, frame)) {
        std::fputs("Can't write vertices to file\n", stderr);
        return false;
    }
    const float scale = 1.0f / fps;
    if (!writeListVectorHex(f, velocities, "velocities", &scale, true, frame)) {
        std::fputs("Can't write velocities to file\n", stderr);
        return false;
    }
    const int count = positions.count();
    if (!writeListIntHex(f, count, true, frame)) {
        std::fputs("Can't write ids to file\n", stderr);
        return false;
    }
    if (!writeListFloatHex(f, radius, count, true, frame)) {
        std::fputs("Can't write radii to file\n", stderr);
        return false;
    }
    // The flush makes a late failure (a full disk) a failure, not a success.
    if (std::fputs("  primary_visibility=1;\n}\n\n", f) < 0 || std::fflush(f) != 0) return false;

    std::printf("exported %d particles\n", count);
    std::printf("bounding box is (%.3f, %.3f, %.3f):(%.3f, %.3f, %.3f)\n", double(box.min[0]), double(box.min[1]),
                double(box.min[2]), double(box.max[0]), double(box.max[1]), double(box.max[2]));
    float centre[3];
    for (int a = 0; a < 3; ++a) centre[a] = (box.min[a] + box.max[a]) * 0.5f;
    std::printf("center of the bounding box is (%.3f, %.3f, %.3f)\n", double(centre[0]), double(centre[1]),
                double(centre[2]));
    std::fflush(stdout);
    return true;
}

bool exportParticles(const char* /*inputPath*/, const char* /*outputPath*/, const char* /*pluginName*/,
                     float /*radius*/, float /*fps*/, float /*frame*/) {
    Sequence positions(12, kParticleBlockCapacity);
    Sequence velocities(12, kParticleBlockCapacity);
    std::fputs("Reading ZTP files is not available yet\n", stderr);
    return false;
}
