#pragma once
// The export driver: the positions and velocities of every particle of a ZTP
// file written as one GeomParticleSystem plugin. It streams (StreamExport.h):
// memory stays independent of the particle count, and the output file
// appears only when it was written whole.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct BoundingBox;

// One conversion: the six command-line values, whether the three summary
// lines go to standard output and a failure's message to standard error, and
// the OpenMP team that converts (0: the runtime's, as a body's thread-count
// value leaves it).
struct ExportRequest {
    std::string inputPath;
    std::string outputPath;
    std::string pluginName;
    float radius = 0.0f;
    float fps = 24.0f;
    float frame = 1.0f;
    bool printSummary = true;
    bool printFailure = true;
    int threads = 0;
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

// True when the whole output file was written. Starts and stops the library
// around the conversion, so it is for one thread at a time: start-up and
// shutdown are process-wide. Diagnostics go to standard error; `summary`,
// when given, receives the result either way.
bool exportParticles(const ExportRequest& request, ExportSummary* summary = nullptr);
// The same in a library that is already started (see LibrarySession), which
// it leaves started: touches no start-up state, so that several threads may
// convert different files at once.
bool exportInStartedLibrary(const ExportRequest& request, ExportSummary* summary = nullptr);
// The command line's form: prints the summary.
bool exportParticles(const char* inputPath, const char* outputPath, const char* pluginName, float radius,
                     float fps, float frame);

// The three summary lines on standard output: the count, the box, its centre.
void printSummary(int64_t particles, const BoundingBox& box);
// Fills the summary from a written export.
void summarize(ExportSummary& summary, int64_t particles, const BoundingBox& box);
// Prints a failure's message on standard error and keeps it, without its
// line end, for the caller.
void reportFailure(ExportSummary* summary, const std::string& message);

// The export's own diagnostics ("No position for this body, skipping"),
// written as given: to standard error, or to the calling thread's capture.
void exportMessage(const std::string& text);

// While it lives, the calling thread's diagnostics, the library's log lines
// and the export's own messages, go to `sink` instead of standard error, one
// call for each (a log line without its line end, a message as written).
class DiagnosticCapture {
public:
    using Sink = std::function<void(const std::string& text)>;
    explicit DiagnosticCapture(Sink sink);
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};
