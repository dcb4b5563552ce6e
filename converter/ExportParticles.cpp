#include "ExportParticles.h"

#include <omp.h>

#include <cstdio>
#include <exception>
#include <string>

#include "LibrarySession.h"
#include "SceneWriter.h"
#include "StreamExport.h"
#include "cb/Log.h"
#include "cb/io/ZtpReader.h"

namespace {

// Keeps a failure's message, without its line end, for the caller.
void keepFailure(ExportSummary* summary, const std::string& message) {
    if (!summary) return;
    summary->failure = message;
    while (!summary->failure.empty() && summary->failure.back() == '\n') summary->failure.pop_back();
}

thread_local const DiagnosticCapture::Sink* t_messageSink = nullptr;

}  // namespace

struct DiagnosticCapture::State {
    Sink sink;
    const Sink* outer;
    Cb::ThreadLogRedirect log;
    explicit State(Sink s) : sink(std::move(s)), outer(t_messageSink), log(sink) {}
};

DiagnosticCapture::DiagnosticCapture(Sink sink) : state_(std::make_unique<State>(std::move(sink))) {
    t_messageSink = &state_->sink;
}

DiagnosticCapture::~DiagnosticCapture() { t_messageSink = state_->outer; }

void exportMessage(const std::string& text) {
    if (t_messageSink)
        (*t_messageSink)(text);
    else
        std::fputs(text.c_str(), stderr);
}

void reportFailure(ExportSummary* summary, const std::string& message) {
    std::fputs(message.c_str(), stderr);
    keepFailure(summary, message);
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

namespace {

// The conversion itself, in a started library; failures come back as messages.
StreamResult convert(const ExportRequest& request) {
    try {
        Cb::ZtpReader reader(request.inputPath, "*", "Body");
        // A body's thread-count value set the team while the records were read.
        if (request.threads > 0) omp_set_num_threads(request.threads);
        StreamResult result = streamExport(reader, request);
        // The reader and its bodies go before the library stops: bodies
        // made by plug-in code need that code until they are gone.
        reader.close();
        return result;
    } catch (const std::exception& e) {
        StreamResult result;
        result.message = std::string("Unhandled exception: ") + e.what() + "\n";
        return result;
    }
}

bool finish(const ExportRequest& request, const StreamResult& result, ExportSummary* summary) {
    if (!result.ok) {
        if (result.message.empty()) {
            if (summary) summary->failure = "Can't write to the output file";
        } else if (request.printFailure) {
            reportFailure(summary, result.message);
        } else {
            keepFailure(summary, result.message);
        }
        return false;
    }
    if (summary) summarize(*summary, result.particles, result.box);
    if (request.printSummary) printSummary(result.particles, result.box);
    return true;
}

}  // namespace

bool exportParticles(const ExportRequest& request, ExportSummary* summary) {
    if (summary) *summary = ExportSummary();
    StreamResult result;
    try {
        LibrarySession library;
        result = convert(request);
        library.stop();
    } catch (const std::exception& e) {
        result = StreamResult();
        result.message = std::string("Unhandled exception: ") + e.what() + "\n";
    }
    // Messages come after the library stopped, as when writing followed reading.
    return finish(request, result, summary);
}

bool exportInStartedLibrary(const ExportRequest& request, ExportSummary* summary) {
    if (summary) *summary = ExportSummary();
    return finish(request, convert(request), summary);
}
