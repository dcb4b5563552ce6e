#pragma once
// zt::block3_file: the file that holds the waiting blocks of block arrays,
// read with positioned reads, so that several threads can read and decode
// stored blocks at once, each into buffers of its own, without loading them
// into their arrays: what a reader that streams channels through needs.
//
// Failures read as loading the array would fail: "read_ztp(<file>) failed:
// ..." for a file that is gone or changed, "Error reading array data" for a
// short read, the decompression errors of decompressBuffer for damaged data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zt/block3_array.h"

namespace zt {

class block3_file {
public:
    // Opens the file: "read_ztp(<file>) failed: Cannot open file: <system text>".
    explicit block3_file(std::string fileName);
    ~block3_file();
    block3_file(const block3_file&) = delete;
    block3_file& operator=(const block3_file&) = delete;

    const std::string& name() const { return name_; }
    int64_t size() const { return size_; }

    // The array's data region still lies in the file as its tables say
    // (version 14 and later; nothing to check before).
    void checkRegion(const block3_array_base& array) const;
    // n bytes at offset.
    void read(int64_t offset, void* out, size_t n) const;

    // The elements of a stored block (version 14 and later), decoded into
    // `out`, which holds info.elements × elementSize bytes; the stored bytes
    // pass through `scratch`.
    void readBlock(const stored_block& info, size_t elementSize, void* out, std::vector<uint8_t>& scratch) const;
    // The same, a run of at most `chunkElements` elements at a time, in order,
    // each handed to `take` (pointer, element count) and then overwritten:
    // blocks too large to hold at once stream through a small buffer.
    using chunk_sink = std::function<void(const void* elements, int64_t count)>;
    void streamBlock(const stored_block& info, size_t elementSize, int64_t chunkElements, const chunk_sink& take) const;

private:
    std::string name_;
    int descriptor_ = -1;
    int64_t size_ = 0;
};

}  // namespace zt
