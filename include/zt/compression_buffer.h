#pragma once
// One-shot zlib-stream compression of array pieces (libdeflate, with zlib as
// the judge of failures), and zt::compression_buffer, the
// container in which an array is cut into pieces, compressed in parallel and
// joined into one data block.
//
// The piece table holds four u64 values per piece:
//   offset       byte offset of the piece's bytes in the joined data
//   stored size  bytes stored for the piece
//   raw count    elements the zlib stream inflates to, or kRawPiece when the
//                bytes are the elements themselves
//   start        index of the piece's first element in the array

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zt/array1.h"

namespace zt {

constexpr uint64_t kRawPiece = ~uint64_t(0);
constexpr int64_t kPieceTableStride = 4;
enum PieceField : int64_t { kPieceOffset = 0, kPieceStoredSize = 1, kPieceRawCount = 2, kPieceStart = 3 };

// One value of a piece table (the compression buffer's, or one read from a file).
inline uint64_t pieceField(const array1<uint64_t>& table, int64_t piece, PieceField field) {
    return table[piece * kPieceTableStride + field];
}

// Two pieces of a table read from a file whose stored bytes overlap, in
// offset order; found is false when every stored byte belongs to one piece at
// most. Readers refuse such tables: pieces sharing bytes would inflate them
// again and again, so that a small file could ask for any amount of memory.
struct shared_bytes {
    bool found = false;
    int64_t first = -1;
    int64_t second = -1;
};
shared_bytes findSharedBytes(const array1<uint64_t>& table, int64_t pieces);

// Inputs below this many bytes are stored raw: zlib's overhead would not pay.
constexpr uint64_t kMinCompressSize = 256;
// zlib's one-shot calls take 32-bit sizes.
constexpr uint64_t kMaxZlibSize = 4294967295u;

// Compresses size bytes (libdeflate, level 6) into a new buffer holding
// exactly the zlib stream. An empty result means "store raw" (size < kMinCompressSize).
// Throws "Buffer to large to compress (n bytes)" above kMaxZlibSize, and
// "ZTP Compression ... Error:" with the sizes and addresses of both buffers.
array1<uint8_t> compressBuffer(const void* data, uint64_t size);

// Inflates sourceSize bytes into exactly destinationSize bytes. Throws
// "Compressed buffer too large (m bytes)", "Decompressed buffer too large
// (n bytes)", and "ZTP Decompression ... Error:" with the sizes and addresses
// of both buffers; a stream inflating to fewer bytes than announced is a data
// error, one inflating to more a buffer error.
void decompressBuffer(const void* source, uint64_t sourceSize, void* destination, uint64_t destinationSize);

// The most bytes that compressedSize bytes of a zlib stream can inflate to
// (deflate's ratio cannot exceed 1032:1). Readers check an announced size
// against it before allocating for the inflated bytes.
uint64_t maxInflatedSize(uint64_t compressedSize);

class compression_buffer {
public:
    compression_buffer(uint32_t threads, int64_t pieceCount);

    uint32_t threads() const { return threads_; }
    int64_t pieceCount() const { return int64_t(pieces_.size()); }
    const array1<uint64_t>& table() const { return table_; }
    uint64_t entry(int64_t piece, PieceField field) const { return pieceField(table_, piece, field); }
    const array1<uint32_t>& tags() const { return tags_; }
    const array1<uint8_t>& pieceBytes(int64_t piece) const { return pieces_[size_t(piece)]; }
    // The joined pieces, valid after finish().
    const array1<uint8_t>& data() const { return data_; }

    // Fills piece k from elements [start, start + count) of the array at
    // `elements`; with compress false the piece is stored raw. Different
    // pieces may be filled by different threads at once.
    template <class T>
    void setPiece(int64_t k, const T* elements, int64_t start, int64_t count, uint32_t tag) {
        static_assert(sizeof(T) == 4 || sizeof(T) == 8 || sizeof(T) == 12 || sizeof(T) == 16,
                      "pieces hold 4-, 8-, 12- or 16-byte elements");
        setPieceBytes(k, elements, sizeof(T), start, count, tag);
    }
    void setPieceBytes(int64_t k, const void* elements, size_t elementSize, int64_t start, int64_t count,
                       uint32_t tag, bool compress = true);

    // Sets every piece's offset and joins the pieces into data(), copying
    // them in parallel.
    void finish();

private:
    uint32_t threads_;
    array1<uint64_t> table_;
    array1<uint32_t> tags_;
    std::vector<array1<uint8_t>> pieces_;
    array1<uint8_t> data_;
};

}  // namespace zt
