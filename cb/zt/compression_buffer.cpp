#include "zt/compression_buffer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "zt/cat.h"
#include "zt/ztx.h"

namespace zt {

namespace {

// libdeflate's level 6 packs particle data as tightly as zlib's level 9, an
// order of magnitude faster; the streams are zlib streams all the same.
constexpr int kCompressionLevel = 6;
constexpr uint64_t kMaxDeflateRatio = 1032;

const char* compressionFailure(int rc) {
    switch (rc) {
        case Z_BUF_ERROR: return "ZTP Compression Buffer Error:";
        case Z_MEM_ERROR: return "ZTP Compression Memory Error:";
        case Z_STREAM_ERROR: return "ZTP Compression Stream Error:";
        default: return "ZTP Compression Error:";
    }
}

const char* decompressionFailure(int rc) {
    switch (rc) {
        case Z_BUF_ERROR: return "ZTP Decompression Buffer Error:";
        case Z_MEM_ERROR: return "ZTP Decompression Memory Error:";
        case Z_DATA_ERROR:
        case Z_NEED_DICT: return "ZTP Decompression Data Error:";
        default: return "ZTP Decompression Error:";
    }
}

// Sizes and addresses only: the buffers' contents never reach a message.
std::string diagnostics(uint64_t destinationSize, const void* destination, uint64_t sourceSize, const void* source) {
    return cat(" ds=", destinationSize, " dd=", destination, " ss=", sourceSize, " sd=", source);
}

}  // namespace

namespace {

struct CompressorRelease {
    void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
};

libdeflate_compressor* threadCompressor() {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorRelease> compressor(
        libdeflate_alloc_compressor(kCompressionLevel));
    return compressor.get();
}

}  // namespace

array1<uint8_t> compressBuffer(const void* data, uint64_t size) {
    if (size > kMaxZlibSize) throw ztx::base(cat("Buffer to large to compress (", size, " bytes)"));
    array1<uint8_t> packed;
    if (size < kMinCompressSize) return packed;
    libdeflate_compressor* compressor = threadCompressor();
    if (!compressor)
        throw ztx::base(cat(compressionFailure(Z_MEM_ERROR), diagnostics(0, nullptr, size, data)));
    const size_t bound = libdeflate_zlib_compress_bound(compressor, size_t(size));
    packed.resize(int64_t(bound));
    const size_t used = libdeflate_zlib_compress(compressor, data, size_t(size), packed.data(), bound);
    // The bound always suffices; 0 would mean the library broke its promise.
    if (used == 0) throw ztx::base(cat(compressionFailure(Z_BUF_ERROR), diagnostics(bound, packed.data(), size, data)));
    packed.resize(int64_t(used));
    packed.squeeze();
    return packed;
}

namespace {

struct DecompressorRelease {
    void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

// One per thread: inflating threads never share one.
libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorRelease> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

// zlib's header names the window: 7 (32 KiB) is what every writer uses, and
// zlib checks distances against a smaller one, which libdeflate does not.
bool fullWindow(const void* source, uint64_t sourceSize) {
    return sourceSize > 0 && (*static_cast<const uint8_t*>(source) >> 4) == 7;
}

}  // namespace

void decompressBuffer(const void* source, uint64_t sourceSize, void* destination, uint64_t destinationSize) {
    if (sourceSize > kMaxZlibSize) throw ztx::base(cat("Compressed buffer too large (", sourceSize, " bytes)"));
    if (destinationSize > kMaxZlibSize)
        throw ztx::base(cat("Decompressed buffer too large (", destinationSize, " bytes)"));
    // libdeflate inflates a whole piece of known size about twice as fast as
    // zlib and verifies the same checksum. zlib stays the judge of what is
    // wrong with a stream that fails, so every failure keeps its message.
    if (libdeflate_decompressor* fast = threadDecompressor(); fast && fullWindow(source, sourceSize)) {
        size_t produced = 0;
        if (libdeflate_zlib_decompress(fast, source, size_t(sourceSize), destination, size_t(destinationSize),
                                       &produced) == LIBDEFLATE_SUCCESS &&
            produced == destinationSize)
            return;
    }
    uLongf produced = uLongf(destinationSize);
    int rc = uncompress(static_cast<Bytef*>(destination), &produced, static_cast<const Bytef*>(source),
                        uLong(sourceSize));
    // A complete stream that yields fewer bytes than announced is as corrupt as a broken one.
    if (rc == Z_OK && produced != destinationSize) rc = Z_DATA_ERROR;
    if (rc != Z_OK)
        throw ztx::base(
            cat(decompressionFailure(rc), diagnostics(destinationSize, destination, sourceSize, source)));
}

shared_bytes findSharedBytes(const array1<uint64_t>& table, int64_t pieces) {
    std::vector<int64_t> order;
    order.reserve(size_t(pieces));
    for (int64_t k = 0; k < pieces; ++k)
        if (pieceField(table, k, kPieceStoredSize) > 0) order.push_back(k);
    std::stable_sort(order.begin(), order.end(), [&table](int64_t a, int64_t b) {
        return pieceField(table, a, kPieceOffset) < pieceField(table, b, kPieceOffset);
    });
    for (size_t i = 1; i < order.size(); ++i) {
        const int64_t before = order[i - 1], here = order[i];
        // Offsets and sizes lie inside the data region, checked before: no overflow.
        if (pieceField(table, here, kPieceOffset) <
            pieceField(table, before, kPieceOffset) + pieceField(table, before, kPieceStoredSize))
            return {true, before, here};
    }
    return {};
}

uint64_t maxInflatedSize(uint64_t compressedSize) {
    if (compressedSize > std::numeric_limits<uint64_t>::max() / kMaxDeflateRatio)
        return std::numeric_limits<uint64_t>::max();
    return compressedSize * kMaxDeflateRatio;
}

// ---------------------------------------------------------------------------

compression_buffer::compression_buffer(uint32_t threads, int64_t pieceCount)
    : threads_(threads > 0 ? threads : 1), pieces_(size_t(pieceCount > 0 ? pieceCount : 0)) {
    table_.resize(this->pieceCount() * kPieceTableStride, 0);
    tags_.resize(this->pieceCount(), 0);
}

void compression_buffer::setPieceBytes(int64_t k, const void* elements, size_t elementSize, int64_t start,
                                       int64_t count, uint32_t tag, bool compress) {
    tags_[k] = tag;
    uint64_t* entry = &table_[k * kPieceTableStride];
    entry[kPieceStart] = uint64_t(start);
    array1<uint8_t>& bytes = pieces_[size_t(k)];
    const uint64_t size = uint64_t(count) * elementSize;
    if (size == 0) {
        bytes.clear();
        entry[kPieceStoredSize] = 0;
        entry[kPieceRawCount] = kRawPiece;
        return;
    }
    const uint8_t* first = static_cast<const uint8_t*>(elements) + uint64_t(start) * elementSize;
    bytes = compress ? compressBuffer(first, size) : array1<uint8_t>();
    if (bytes.empty()) {
        bytes.resize(int64_t(size));
        std::memcpy(bytes.data(), first, size);
        entry[kPieceRawCount] = kRawPiece;
    } else {
        entry[kPieceRawCount] = uint64_t(count);
    }
    entry[kPieceStoredSize] = uint64_t(bytes.count());
}

void compression_buffer::finish() {
    uint64_t offset = 0;
    for (int64_t k = 0; k < pieceCount(); ++k) {
        table_[k * kPieceTableStride + kPieceOffset] = offset;
        offset += table_[k * kPieceTableStride + kPieceStoredSize];
    }
    data_.resize(int64_t(offset));
    const int64_t pieces = pieceCount();
// A team for a single piece would cost more than the copy.
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads_) if (pieces > 1)
    for (int64_t k = 0; k < pieces; ++k) {
        const array1<uint8_t>& bytes = pieces_[size_t(k)];
        if (!bytes.empty()) std::memcpy(data_.data() + entry(k, kPieceOffset), bytes.data(), size_t(bytes.count()));
    }
}

}  // namespace zt
