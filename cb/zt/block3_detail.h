#pragma once
// What the sources of the block array share: the block array record's fixed
// sizes and the error for a damaged block table.

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "zt/cat.h"
#include "zt/ztx.h"

namespace zt::detail {

// Tile coordinates and table values per global block in the version 14 record.
constexpr int64_t kTileStride = 3;
// Bytes before a block's data in a legacy file: its tile coordinates and the
// legacy array's byte size.
constexpr int64_t kLegacyBlockHeader = 3 * 4 + 4;
// The data region's i64 byte count comes before its bytes.
constexpr int64_t kByteCountSize = 8;
constexpr int64_t kMaxGlobalBlocks = std::numeric_limits<int32_t>::max();

inline int workerCount(int threads) { return threads > 0 ? threads : std::max(1, omp_get_max_threads()); }

[[noreturn]] inline void badTable(const std::string& fileName, const std::string& detail) {
    throw ztx::base(cat("Corrupt particle block table in ", fileName, ": ", detail));
}

}  // namespace zt::detail
