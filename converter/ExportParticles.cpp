#include "ExportParticles.h"

#include <cstdio>
#include <exception>
#include <string>

#include "LibrarySession.h"
#include "SceneWriter.h"
#include "StreamExport.h"
#include "cb/io/ZtpReader.h"

void reportFailure(ExportSummary* summary, const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (summary) {
        summary->failure = message;
        while (!summary->failure.empty() && summary->failure.back() == '\n') summary->failure.pop_back();
    }
}

void printSummary(int64_t particles, const BoundingBox& box) {
    std::printf("exported %lld particles\n", static_cast<long long>(particles));
    std::printf("bounding box is (%.3f, %.3f, %.3f):(%.3f, %.3f, %.3f)\n", double(box.min[0]), double(box.min[1]),
                double(box.min[2]), double(box.max[0]), double(box.max[1]), double(box.max[2]));
    float centre[3];
    for (int a = 0; a < 3; ++a) centre[a] = (box.min[a] + box.max[a]) * 0.5f;
    std::printf("center of the bounding box is (%.3f, %.3f, %.3f)\n", double(centre[0]), double(centre[1]),
                double(centre[2]));
    std::fflush(stdout);
}

void summarize(ExportSummary& summary, int64_t particles, const BoundingBox& box) {
    summary.particles = particles;
    for (size_t a = 0; a < 3; ++a) {
        summary.min[a] = box.min[a];
        summary.max[a] = box.max[a];
        summary.centre[a] = (box.min[a] + box.max[a]) * 0.5f;
    }
}

bool exportParticles(const char* inputPath, const char* outputPath, const char* pluginName, float radius,
                     float fps, float frame) {
    return exportParticles(ExportRequest{inputPath, outputPath, pluginName, radius, fps, frame, true});
}

bool exportParticles(const ExportRequest& request, ExportSummary* summary) {
    if (summary) *summary = ExportSummary();
    StreamResult result;
    try {
        LibrarySession library;
        {
            Cb::ZtpReader reader(request.inputPath, "*", "Body");
            result = streamExport(reader, request);
            // The reader and its bodies go before the library stops: bodies
            // made by plug-in code need that code until they are gone.
            reader.close();
        }
        library.stop();
    } catch (const std::exception& e) {
        result = StreamResult();
        result.message = std::string("Unhandled exception: ") + e.what() + "\n";
    }
    // Messages come after the library stopped, as when writing followed reading.
    if (!result.ok) {
        if (!result.message.empty())
            reportFailure(summary, result.message);
        else if (summary)
            summary->failure = "Can't write to the output file";
        return false;
    }
    if (summary) summarize(*summary, result.particles, result.box);
    if (request.printSummary) printSummary(result.particles, result.box);
    return true;
}
