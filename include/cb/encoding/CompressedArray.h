#pragma once
// The two compressed array encodings of ZTP files.
//
// Marked array (index tables; 4- and 8-byte elements):
//   i64 count, u8 mark; mark != 0: a byte array holding one zlib stream that
//   inflates to exactly count elements; mark == 0: a plain array.
//
// Chunked compressed array (bulk element data):
//   u8 mark; mark == 0: a plain array and nothing else. Otherwise i64 count,
//   i64 chunk size (kCompressedChunkSize), the piece table (see
//   zt/compression_buffer.h) as a marked array of u64, and the joined piece
//   bytes as a byte array. Pieces are compressed and inflated in parallel.
//
// Before anything is inflated the reader checks every piece against the data
// and the array: bytes inside the data, elements inside the array, raw pieces
// holding whole elements, no element claimed twice and every element claimed
// once. A failed read leaves the destination array as it was.

#include <cstdint>

#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/array1.h"

namespace Cb {

constexpr int64_t kCompressedChunkSize = 4000;

namespace detail {
void writeMarkedArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize);
void readMarkedArray(ZtpInput& in, size_t elementSize, const ElementSink& sink);
void writeCompressedArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize, bool compress);
void readCompressedArray(ZtpInput& in, size_t elementSize, const ElementSink& sink);

template <class T>
constexpr bool kMarkedElement = sizeof(T) == 4 || sizeof(T) == 8;
template <class T>
constexpr bool kChunkedElement = sizeof(T) == 4 || sizeof(T) == 8 || sizeof(T) == 12 || sizeof(T) == 16;
}  // namespace detail

// The mark and element count of a chunked compressed array, read without
// its elements; the stream stands after them. The head tells the bytes of a
// raw array only. Failures: "Error reading compressed array", "Error reading
// compressed array size" (also for raw elements past the end of the file).
StoredArrayHead readCompressedArrayHead(ZtpInput& in, size_t elementSize);

// Failures: "Error writing compressed array size", "Error writing compressed
// array mark", the plain array and compression failures.
template <class T>
void writeMarkedArray(const zt::array1<T>& array, ZtpOutput& out) {
    static_assert(detail::kMarkedElement<T>, "marked arrays hold 4- or 8-byte elements");
    detail::writeMarkedArray(out, array.data(), array.count(), sizeof(T));
}

// Failures: "Error reading compressed array size", "Error reading compressed
// array", the plain array and decompression failures.
template <class T>
void readMarkedArray(zt::array1<T>& array, ZtpInput& in) {
    static_assert(detail::kMarkedElement<T>, "marked arrays hold 4- or 8-byte elements");
    detail::readInto(array, in, detail::readMarkedArray);
}

// Failures: "Error writing compressed array", "Error writing compressed array
// size", "Error writing compressed array chunk size", and those of the table
// and data arrays.
template <class T>
void writeCompressedArray(const zt::array1<T>& array, ZtpOutput& out, bool compress) {
    static_assert(detail::kChunkedElement<T>, "compressed arrays hold 4-, 8-, 12- or 16-byte elements");
    detail::writeCompressedArray(out, array.data(), array.count(), sizeof(T), compress);
}

// Failures: "Error reading compressed array" (also for an inconsistent piece
// table, with the reason), "Error reading compressed array size", "Error
// reading compressed array chunk size", those of the table and data arrays,
// and the decompression failures of the pieces.
template <class T>
void readCompressedArray(zt::array1<T>& array, ZtpInput& in) {
    static_assert(detail::kChunkedElement<T>, "compressed arrays hold 4-, 8-, 12- or 16-byte elements");
    detail::readInto(array, in, detail::readCompressedArray);
}

}  // namespace Cb
