#pragma once
// Whole files: writing bodies to a new cache, and converting a cache to a
// txscene file with the converter's own function.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"

namespace ztpy {

// Writes the bodies, in order, to a version 16 cache at `path` with the
// header time `time`: first to a temporary file in the target's folder,
// renamed over the target once complete, so a failure leaves no partial
// file. Refuses to write over the file a body's data is read from.
void writeCache(const std::string& path, const std::vector<std::shared_ptr<BodyHandle>>& bodies, double time,
                bool compress);

struct ExportResult {
    int64_t particles = 0;
    std::array<float, 3> min{};
    std::array<float, 3> max{};
    std::array<float, 3> centre{};
};

// exportParticles with the summary kept, not printed; a failure throws its
// message.
ExportResult exportTxscene(const std::string& input, const std::string& output, const std::string& pluginName,
                           float radius, float fps, float frame);

}  // namespace ztpy
