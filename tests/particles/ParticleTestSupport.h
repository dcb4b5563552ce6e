#pragma once
// Helpers of the particle tests: the registries as start-up leaves them,
// files written by a ZtpWriter and read back by a ZtpReader at a chosen
// version, and particle channels filled block by block.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/ParticleChannel.h"

namespace particletest {

// A file in a temporary folder: written once, then read as often as needed.
class ZtpFile {
public:
    ZtpFile() : path_(dir_.file("particles.ztp")) {}
    const std::string& path() const { return path_; }
    // Runs `write` on a fresh writer over the file.
    void write(const std::function<void(Cb::ZtpWriter&)>& write);
    // A reader over the file at `version`, positioned at its start.
    std::unique_ptr<Cb::ZtpReader> reader(int32_t version = Cb::kZtpVersion) const;

private:
    testsupport::TempDir dir_;
    std::string path_;
};

// Appends a block at tile `tile` holding `values` to list `list` of the
// channel's storage.
template <class T>
void addBlock(Cb::ParticleChannel<T>& channel, int list, const zt::vec3i& tile, const std::vector<T>& values) {
    std::unique_ptr<zt::block3_base> block = channel.blocks().newBlock(tile[0], tile[1], tile[2]);
    auto& typed = static_cast<zt::block3<T>&>(*block);
    for (const T& v : values) typed.append(v);
    channel.blocks().appendBlock(list, std::move(block));
}

template <class T>
std::vector<T> blockValues(const Cb::ParticleChannel<T>& channel, int64_t g) {
    const std::span<const T> values = channel.blockElements(g);
    return std::vector<T>(values.begin(), values.end());
}

inline int64_t particleIndex(int64_t block, int element) { return (block << 32) | int64_t(uint32_t(element)); }

}  // namespace particletest
