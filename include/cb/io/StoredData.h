#pragma once
// Looking into a ZTP file's channel data without keeping it: how each
// channel is stored (elements, bytes, compression), where each particle block
// lies, and statistics computed from the values a block at a time. For
// inspection tools; what a reader hands out is not changed, except that
// computing statistics leaves a channel's data in the file (particle blocks
// are released again, field values cleared).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "zt/block3_array.h"

namespace Cb {

class Channel;
class ZtpInput;

enum class StoredCompression {
    None,        // no stored element
    Raw,         // every stored piece holds raw elements
    Compressed,  // every stored piece is a zlib stream
    Mixed,       // some of each (particle blocks)
    Unknown,     // the file does not tell without loading (or not from a file)
};

// "none", "raw", "compressed", "mixed", "unknown".
const char* storedCompressionName(StoredCompression compression);

struct StoredChannel {
    // Elements stored: particle channels the sum over their blocks, buffer
    // channels their elements, field channels the fine voxels (of the first
    // component field); -1 when unknown.
    int64_t elements = -1;
    // Bytes of the channel's record in the file (header, tables and data);
    // -1 for a channel not read from a file.
    int64_t recordBytes = -1;
    // Particle channels: blocks over both lists; 0 otherwise.
    int64_t blocks = 0;
    StoredCompression compression = StoredCompression::Unknown;
};

// The stored data of one file, whose small heads are read through a stream
// of its own (opened when first needed).
class StoredDataFile {
public:
    StoredDataFile(std::string fileName, int32_t version);
    ~StoredDataFile();
    StoredDataFile(const StoredDataFile&) = delete;
    StoredDataFile& operator=(const StoredDataFile&) = delete;

    // Where global block g of a particle channel's storage lies, as
    // storedBlockInfo tells; for files before version 14 the tile, element
    // count, compression and record bytes are read from the block's own
    // record head. False when the block is not waiting in the file. Throws
    // when the head cannot be read (a damaged file).
    bool block(const zt::block3_array_base& storage, int64_t g, zt::stored_block& info);
    // A channel as stored, without loading its elements (buffer channels are
    // in memory already).
    StoredChannel channel(const Channel& channel);

private:
    ZtpInput& input();

    std::string fileName_;
    int32_t version_;
    std::unique_ptr<ZtpInput> in_;
};

// Statistics of each component of a channel's values, from the values
// themselves (not the figures stored in the channel's header).
struct ChannelStatistics {
    static constexpr int kMaxComponents = 4;
    int components = 0;
    // The values are floats (else integers, shown without a fraction).
    bool floating = false;
    int64_t count = 0;       // elements seen
    // NaN components, left out of minimum and maximum (NaN when a component
    // held nothing else).
    int64_t notANumber = 0;
    std::array<double, kMaxComponents> min{};
    std::array<double, kMaxComponents> max{};
    std::array<double, kMaxComponents> sum{};
    // sum / count; NaN without elements.
    double mean(int c) const;
};

// Walks the channel's values: particle channels block by block (a block
// loaded from the file is released again after it was seen, so memory stays
// at one block), buffer channels in memory, field channels over the fine
// values of each component field (loaded, then cleared again when they came
// from the file). Throws what loading throws, and for a channel of a class
// it does not know.
ChannelStatistics computeStatistics(Channel& channel);

}  // namespace Cb
