#pragma once
// Checked binary streams over stdio with 64-bit positions: the ground every
// ZTP encoding stands on.
//
// A ZtpInput or ZtpOutput either owns its FILE* (closed on destruction) or
// borrows one opened elsewhere (left open). ZtpReader and ZtpWriter own one
// each and hand it out through stream(); code that opens a ZTP file by
// itself, such as deferred particle loading, wraps its own FILE* in a
// ZtpInput to read marked arrays and byte arrays through the same checks.
//
// Numbers are little-endian and unaligned in the file; the library targets
// little-endian machines, so a number's memory image is its file image.

#include <sys/types.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "zt/vec.h"

namespace Cb {

// Offsets in ZTP files are 64-bit: files over 4 GiB are ordinary.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
static_assert(std::endian::native == std::endian::little, "ZTP numbers are read and written as memory images");

constexpr uint32_t kZtpMagic = 0xABBAABB1u;
// The layout version this library writes.
constexpr int32_t kZtpVersion = 16;

struct FileCloser {
    void operator()(FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fopen into an owning handle; null on failure with errno kept.
FilePtr openFile(const std::string& path, const char* mode);

// What ZtpInput and ZtpOutput share: the FILE*, its name, the position.
class ZtpStream {
public:
    bool isOpen() const { return file_ != nullptr; }
    FILE* file() const { return file_; }
    const std::string& name() const { return name_; }

    // Both throw on a stream that is not open.
    int64_t tell() const;
    void seek(int64_t offset);

protected:
    ZtpStream() = default;
    ZtpStream(FILE* borrowed, std::string name);
    ZtpStream(FilePtr owned, std::string name);
    ZtpStream(ZtpStream&& other) noexcept;
    ZtpStream& operator=(ZtpStream&& other) noexcept;
    ~ZtpStream() = default;

    // Forgets the file, closing it when owned; false when fclose failed.
    bool release() noexcept;
    void requireOpen() const;

private:
    FilePtr owned_;
    FILE* file_ = nullptr;
    std::string name_;
};

// A ZTP file opened for reading, with the file's size and layout version.
// Every read is checked: a short read or a stream error throws the failure
// text of the encoding being read, and lengths and counts taken from the
// file are checked against remaining() before anything is allocated.
class ZtpInput : public ZtpStream {
public:
    enum class ReadResult { Ok, EndOfFile, Error };

    ZtpInput() = default;
    // Reads from a stream opened elsewhere, which stays open afterwards.
    ZtpInput(FILE* borrowed, std::string name, int32_t version);
    ZtpInput(FilePtr owned, std::string name, int32_t version);
    ZtpInput(ZtpInput&&) noexcept = default;
    ZtpInput& operator=(ZtpInput&&) noexcept = default;

    int32_t version() const { return version_; }
    void setVersion(int32_t version) { version_ = version; }
    // Size of the file when it was attached.
    int64_t size() const { return size_; }
    // Bytes left before the end of the file, or before the limit when one is set.
    int64_t remaining() const;
    // Counts read from now on must fit before `end` (a record's end inside the
    // file); -1 lifts the limit. Keeps a record's lengths from reaching into
    // bytes that belong to another.
    void setLimit(int64_t end) { limit_ = end; }
    // Offsets outside [0, size()] are refused.
    void seek(int64_t offset);
    void close() noexcept { release(); }

    // Reads n bytes; says whether the file ended or failed first.
    ReadResult readRaw(void* destination, size_t n);
    // Reads n bytes or throws ztx::base(failure).
    void readExact(void* destination, size_t n, const char* failure);
    // True when count elements of elementSize bytes can still be read.
    bool fits(int64_t count, int64_t elementSize) const;
    // An i64 count; negative counts throw ztx::base(failure) like a failed read.
    int64_t readCount(const char* failure);

    // One primitive or raw element of T; a failure is "Error reading ztp value".
    template <class T>
    T read() {
        return read<T>(kValueReadError);
    }
    template <class T>
    T read(const char* failure) {
        static_assert(std::is_trivially_copyable_v<T>);
        T value;
        readExact(&value, sizeof(T), failure);
        return value;
    }
    uint8_t readU8() { return read<uint8_t>(); }
    int32_t readI32() { return read<int32_t>(); }
    uint32_t readU32() { return read<uint32_t>(); }
    float readF32() { return read<float>(); }
    int64_t readI64() { return read<int64_t>(); }
    uint64_t readU64() { return read<uint64_t>(); }
    double readF64() { return read<double>(); }
    zt::vec2i readVec2i() { return read<zt::vec2i>(); }
    zt::vec2f readVec2f() { return read<zt::vec2f>(); }
    zt::vec3i readVec3i() { return read<zt::vec3i>(); }
    zt::vec3f readVec3f() { return read<zt::vec3f>(); }
    zt::vec4i readVec4i() { return read<zt::vec4i>(); }
    zt::vec4f readVec4f() { return read<zt::vec4f>(); }

private:
    static const char* const kValueReadError;
    int32_t version_ = kZtpVersion;
    int64_t size_ = 0;
    int64_t limit_ = -1;
};

// A ZTP file opened for writing. Every write is checked: a short write or a
// stream error throws the failure text of the encoding being written.
class ZtpOutput : public ZtpStream {
public:
    ZtpOutput() = default;
    ZtpOutput(FILE* borrowed, std::string name);
    ZtpOutput(FilePtr owned, std::string name);
    ZtpOutput(ZtpOutput&&) noexcept = default;
    ZtpOutput& operator=(ZtpOutput&&) noexcept = default;

    // Closes the file; a failure to flush it throws.
    void close();

    void writeExact(const void* source, size_t n, const char* failure);

    // One primitive or raw element of T; a failure is "Error writing ztp value".
    template <class T>
    void write(const T& value) {
        write(value, kValueWriteError);
    }
    template <class T>
    void write(const T& value, const char* failure) {
        static_assert(std::is_trivially_copyable_v<T>);
        writeExact(&value, sizeof(T), failure);
    }
    void writeU8(uint8_t v) { write(v); }
    void writeI32(int32_t v) { write(v); }
    void writeU32(uint32_t v) { write(v); }
    void writeF32(float v) { write(v); }
    void writeI64(int64_t v) { write(v); }
    void writeU64(uint64_t v) { write(v); }
    void writeF64(double v) { write(v); }
    void writeVec2i(const zt::vec2i& v) { write(v); }
    void writeVec2f(const zt::vec2f& v) { write(v); }
    void writeVec3i(const zt::vec3i& v) { write(v); }
    void writeVec3f(const zt::vec3f& v) { write(v); }
    void writeVec4i(const zt::vec4i& v) { write(v); }
    void writeVec4f(const zt::vec4f& v) { write(v); }

private:
    static const char* const kValueWriteError;
};

}  // namespace Cb
