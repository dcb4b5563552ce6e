#pragma once
// OutputFile: where a conversion writes, so that a failed run leaves no
// partial output and an existing target untouched. The bytes go to a
// temporary file beside the target (in the temporary folder when the target
// is not a regular file, such as a device or a pipe), written at known
// offsets from any thread; commit() puts the finished file in the target's
// place (a rename, or a copy into a non-regular target). Unless committed,
// the temporary file is removed.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile {
public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the target cannot be written: the file would not open for
    // writing (a missing or unwritable folder, a folder by the target's name,
    // a read-only target). Writes then do nothing.
    bool ready() const { return descriptor_ >= 0; }
    // Sets the file's size up front (the writes fill it).
    void reserve(uint64_t size);
    // Thread-safe; a failure is remembered, not thrown.
    void write(uint64_t offset, const void* data, size_t size) noexcept;
    // The smallest offset at which a write failed; -1 when none did.
    int64_t firstFailure() const { return failure_.load(); }
    // Makes the written bytes the target. False when that failed: a write
    // failed (firstFailure() tells where), or the file could not take the
    // target's place (firstFailure() is -1). The target then holds nothing new.
    bool commit();

private:
    void fail(uint64_t offset) noexcept;
    bool copyInto();

    std::string target_;
    std::string temporary_;
    int descriptor_ = -1;
    bool replace_ = true;  // rename over the target; otherwise copy into it
    unsigned mode_ = 0;    // permissions the finished file gets
    uint64_t size_ = 0;
    std::atomic<int64_t> failure_{-1};
};
