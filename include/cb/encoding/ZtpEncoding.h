#pragma once
// Strings, plain arrays, byte arrays and legacy arrays in ZTP files.
//
//   string        i32 length, then length + 1 bytes (the characters and a
//                 zero) when the length is not 0
//   plain array   i64 count, then count elements back to back
//   byte array    a plain array of u8
//   legacy array  (files before version 14, never written) u32 byte size;
//                 when not 0: u32 compressed flag, then either u32 compressed
//                 size and a zlib stream inflating to byte size bytes, or
//                 byte size raw bytes; count = byte size / element size
//
// Readers take what a damaged file says with suspicion: negative lengths and
// counts, and lengths whose bytes cannot be in what remains of the file, are
// refused with the encoding's failure text before anything is allocated. A
// failed read leaves the destination array as it was.

#include <cstdint>
#include <functional>
#include <type_traits>

#include "cb/String.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/array1.h"

namespace Cb {

// Failures: "Error reading ztp value" (length), ztx::eof "End of file reached
// reading Cb::String" (characters cut short), "Error reading Cb::String".
String readString(ZtpInput& in);
// Failures: "Error writing ztp value" (length), "Error writing Cb::String";
// a text holding a zero byte, which readers would cut there, is refused
// before anything is written: "Error writing Cb::String: zero byte at <i>".
void writeString(ZtpOutput& out, const String& text);

namespace detail {
// Sizes the caller's destination to count elements and returns its storage;
// a later call with a smaller count keeps the leading elements.
using ElementSink = std::function<void*(int64_t count)>;

void readPlainArray(ZtpInput& in, size_t elementSize, const ElementSink& sink);
void readLegacyArray(ZtpInput& in, size_t elementSize, const ElementSink& sink);
void writePlainArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize);

// Reads into a fresh array with one of the type-erased readers above and
// hands it over only when the whole read succeeded.
template <class T, class Reader>
void readInto(zt::array1<T>& array, ZtpInput& in, Reader reader) {
    zt::array1<T> result;
    reader(in, sizeof(T), [&result](int64_t count) -> void* {
        result.resize(count);
        return result.data();
    });
    array.swap(result);
}
}  // namespace detail

// Failures: "Error reading array size", "Error reading array data".
template <class T>
void readArray(zt::array1<T>& array, ZtpInput& in) {
    detail::readInto(array, in, detail::readPlainArray);
}

// Failures: "Error writing array size", "Error writing array data".
template <class T>
void writeArray(const zt::array1<T>& array, ZtpOutput& out) {
    detail::writePlainArray(out, array.data(), array.count(), sizeof(T));
}

inline void readByteArray(zt::array1<uint8_t>& bytes, ZtpInput& in) { readArray(bytes, in); }
inline void writeByteArray(const zt::array1<uint8_t>& bytes, ZtpOutput& out) { writeArray(bytes, out); }

// What the head of a stored array says, read without its elements (for
// inspection).
struct StoredArrayHead {
    int64_t count = 0;        // elements
    bool compressed = false;  // zlib data follow the head (raw elements otherwise)
    int64_t bytes = -1;       // the whole array in the file, head included; -1 when the head does not tell
};

// The head of a legacy array; the stream stands after it, before the data.
// Failure: "Error reading ztp array", also when the data it announces run
// past the end of the file.
StoredArrayHead readLegacyArrayHead(ZtpInput& in, size_t elementSize);

// Compressed legacy arrays are inflated here, in one piece. Failures: "Error
// reading ztp array"; the zlib failures of decompressBuffer.
template <class T>
void readLegacyArray(zt::array1<T>& array, ZtpInput& in) {
    static_assert(std::is_trivially_copyable_v<T>);
    detail::readInto(array, in, detail::readLegacyArray);
}

}  // namespace Cb
