// A whole ZTP file through what the converter does: the library started, every
// body read and taken, every channel loaded, then the converter's own export
// to a scene file. Any outcome but a crash, a leak, a hang or unbounded memory
// is fine: damaged input may be refused.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "ExportParticles.h"
#include "FuzzSupport.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = fuzzsupport::scratchFile("input.ztp");
    static const std::string scene = fuzzsupport::scratchFile("output.txscene");
    fuzzsupport::writeFile(input, data, size);
    fuzzsupport::Library library;  // the export's own start-up nests inside it
    try {
        Cb::ZtpReader reader(input, "*", "Body");
        for (int i = 0; i < reader.bodyCount(); ++i) {
            std::unique_ptr<Cb::Body> body = reader.takeBody(i);
            if (!body) continue;
            try {
                fuzzsupport::touchChannels(*body);
            } catch (const std::exception&) {
                // A damaged channel: the other bodies are still read.
            }
        }
    } catch (const std::exception&) {
    }
    ExportRequest request;
    request.inputPath = input;
    request.outputPath = scene;
    request.pluginName = "fuzz";
    request.radius = 0.1f;
    request.printSummary = false;
    ExportSummary summary;
    exportParticles(request, &summary);
    return 0;
}
