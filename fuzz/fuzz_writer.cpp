// Whatever a damaged file reads as, the writer writes it so that its own
// reader takes the whole file back and every body describes the same, both
// compressed and stored raw (the last byte of the input picks which first).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = fuzzsupport::scratchFile("input.ztp");
    fuzzsupport::writeFile(input, data, size);
    fuzzsupport::Library library;
    std::unique_ptr<Cb::ZtpReader> reader;
    try {
        reader = std::make_unique<Cb::ZtpReader>(input, "*", "Body");
    } catch (const std::exception&) {
        return 0;
    }
    std::vector<Cb::Body*> bodies;
    for (int i = 0; i < reader->bodyCount(); ++i)
        if (Cb::Body* body = reader->storedBody(i)) bodies.push_back(body);
    // Either order: the second write starts from bodies the first one read through.
    const bool compressFirst = size > 0 && (data[size - 1] & 1) != 0;
    fuzzsupport::expectRoundTrip(bodies, compressFirst);
    fuzzsupport::expectRoundTrip(bodies, !compressFirst);
    return 0;
}
