#pragma once
// The export as a stream. The body records are read first: they are small,
// and from the exported blocks' element counts every list's length, and so
// every block's place in the output, is known before any particle data is
// inflated. Body by body, blocks are then read, inflated, encoded and written
// at their places in parallel, each worker with buffers of its own that it
// reuses: memory does not grow with the particle count. The output appears
// only when everything was written (see OutputFile).
//
// What reaches standard error, and in which order, is what gathering every
// particle first and writing afterwards printed: a body's messages when its
// turn comes, and of several failures the one that the body-by-body,
// channel-by-channel, block-by-block walk meets first.

#include <cstdint>
#include <string>

#include "SceneWriter.h"

namespace Cb {
class ZtpReader;
}
struct ExportRequest;

struct StreamResult {
    bool ok = false;
    // Printed on standard error after the library stops; may be empty.
    std::string message;
    int64_t particles = 0;
    BoundingBox box;
};

// Converts the bodies of an open reader into the request's output file.
// The library must be started; bodies are taken from the reader one at a
// time and released before the next.
StreamResult streamExport(Cb::ZtpReader& reader, const ExportRequest& request);
