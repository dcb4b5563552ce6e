#pragma once
// What ztpinfo shows of one file, gathered through the library: the header,
// each body with its layout, values and shapes, each channel as stored and,
// when asked, its blocks and statistics computed from its values.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cb/io/StoredData.h"
#include "zt/block3_array.h"
#include "zt/vec.h"

namespace ztpinfo {

struct InfoOptions {
    bool values = false;
    bool stats = false;
    bool blocks = false;
    bool json = false;
};

struct BlockReport {
    int64_t index = 0;  // global block
    zt::stored_block stored;
};

struct ChannelReport {
    std::string name;
    std::string type;
    Cb::StoredChannel stored;
    // The statistics of the channel's header record (version 12 and later).
    bool hasHeaderStatistics = false;
    uint64_t headerCount = 0;
    zt::vec3f headerMin{}, headerMax{}, headerMean{};
    std::optional<Cb::ChannelStatistics> computed;  // --stats
    std::vector<BlockReport> blocks;                // --blocks
    // Blocks in memory rather than in the file (not listed with --blocks).
    int64_t residentBlocks = 0;
    // Why the channel's data could not be read; empty when they could.
    std::string error;
};

struct ShapeReport {
    std::string name;
    std::vector<ChannelReport> channels;
};

struct ValueReport {
    std::string name;
    std::string type;
    std::vector<std::string> expressions;     // one per component
    std::vector<std::optional<double>> numbers;  // where the component is constant
    // A float value: its numbers are shown as floats.
    bool floating = false;
};

struct SectionReport {
    std::string name;
    std::vector<ValueReport> values;
};

struct LayoutReport {
    uint32_t tileSize = 0;
    float voxelSize = 0.0f;
    int64_t fineTiles = 0;
    int64_t coarseTiles = 0;
    // Over the fine tiles, in tile coordinates (inclusive); unset without one.
    std::optional<std::pair<zt::vec3i, zt::vec3i>> tileBox;
};

struct BodyReport {
    std::string name;
    std::string signature;
    int64_t particles = 0;
    LayoutReport layout;
    std::vector<SectionReport> sections;  // --values
    std::vector<ShapeReport> shapes;
    // --stats: the particles' bounding box, from the computed position statistics.
    std::optional<std::pair<zt::vec3f, zt::vec3f>> particleBox;
};

struct FileReport {
    std::string path;
    // The header could be read; when false, `error` says why.
    bool opened = false;
    std::string error;
    int32_t version = 0;
    double time = 0.0;
    int32_t headerBodies = 0;
    std::vector<BodyReport> bodies;
    // "Corrupt ZTP: <reason>" when a damaged body record ended the reading.
    std::string damage;
    // Every body record and all channel data asked for were read.
    bool whole() const;
};

// Reads one file. Never throws for what the file holds: failures land in the
// report.
FileReport inspectFile(const std::string& path, const InfoOptions& options);

}  // namespace ztpinfo
