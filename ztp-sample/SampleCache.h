#pragma once
// The sample cache as a whole: which bodies it holds, how the particles are
// shared among them, writing it, and the report of what was written.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// Names of the bodies, in file order.
constexpr const char* kPoolName = "Pool";
constexpr const char* kJetName = "Fountain";
constexpr const char* kMistName = "Mist";
constexpr const char* kLiquidType = "Particle-Liquid";
constexpr const char* kSmokeType = "Field-Smoke";

struct BodySummary {
    std::string name;
    std::string type;
    int64_t particles = 0;
    int64_t tiles = 0;  // fine tiles
    float voxelSize = 0.0f;
};

struct CacheSummary {
    std::vector<BodySummary> bodies;
    int64_t particles() const;
    int64_t tiles() const;
};

// Starts the library (nesting inside a caller's start-up), builds the pool,
// the fountain and the mist for the seed and writes them to `path`, channel
// data compressed or raw. The same arguments give the same bytes. A failure
// after the file was created removes it again; errors are thrown.
CacheSummary writeSampleCache(const std::string& path, int64_t particles, uint64_t seed, bool compress);

// What was written: a line for the file, one per body, one of totals.
std::string describeCache(const std::string& path, uint64_t seed, bool compress, const CacheSummary& summary);

}  // namespace sample
