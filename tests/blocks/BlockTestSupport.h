#pragma once
// Helpers of the block storage tests: arrays built from literal blocks,
// records written to and read from temporary files, OpenMP thread counts for
// the length of a scope.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "ByteBuilder.h"
#include "ScopedThreads.h"
#include "TempPath.h"
#include "cb/io/ZtpStream.h"
#include "zt/block3_array.h"

namespace blocktest {

using zt::vec3f;
using zt::vec3i;

using testsupport::ScopedThreads;

template <class T>
struct BlockSpec {
    vec3i tile;
    std::vector<T> values;
    bool null = false;  // an empty slot instead of a block
};

template <class T>
void appendSpecs(zt::block3_array<T>& array, int list, const std::vector<BlockSpec<T>>& specs) {
    for (const BlockSpec<T>& spec : specs) {
        if (spec.null) {
            array.appendBlock(list, nullptr);
            continue;
        }
        std::unique_ptr<zt::block3_base> block = array.newBlock(spec.tile[0], spec.tile[1], spec.tile[2]);
        auto& typed = dynamic_cast<zt::block3<T>&>(*block);
        for (const T& v : spec.values) typed.append(v);
        array.appendBlock(list, std::move(block));
    }
}

// An array whose list 0 holds `fine` and list 1 (after its empty slot 0) `coarse`.
template <class T>
std::unique_ptr<zt::block3_array<T>> makeArray(const std::vector<BlockSpec<T>>& fine,
                                               const std::vector<BlockSpec<T>>& coarse = {}, const T& def = T()) {
    auto array = std::make_unique<zt::block3_array<T>>(def);
    appendSpecs(*array, 0, fine);
    appendSpecs(*array, 1, coarse);
    return array;
}

// Values of global block g, in element order.
template <class T>
std::vector<T> valuesOf(zt::block3_array<T>& array, int64_t g) {
    std::vector<T> out;
    for (const T& v : array.elements(g)) out.push_back(v);
    return out;
}

// Writes `array`'s record after `prefix` bytes into `path`; returns the
// position just after the record.
inline int64_t writeRecord(zt::block3_array_base& array, const std::string& path, bool compress,
                           const std::vector<uint8_t>& prefix = {}) {
    Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
    if (!prefix.empty()) out.writeExact(prefix.data(), prefix.size(), "prefix");
    array.write(out, compress);
    const int64_t end = out.tell();
    out.close();
    return end;
}

// Reads the record at `position` of `path` as file version `version`;
// returns the position the reader was left at.
inline int64_t readRecord(zt::block3_array_base& array, const std::string& path, int32_t version,
                          int64_t position = 0) {
    Cb::ZtpInput in(Cb::openFile(path, "rb"), path, version);
    in.seek(position);
    if (version >= zt::kBlockTableVersion)
        array.readHeader(in);
    else
        array.readHeaderLegacy(in);
    return in.tell();
}

}  // namespace blocktest
