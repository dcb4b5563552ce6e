#pragma once
// Helpers of the particle tests: the registries as start-up leaves them, and
// particle channels filled and read block by block.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cb/factory/BuiltinTypes.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"

namespace particletest {

struct Registries : ::testing::Environment {
    void SetUp() override {
        if (Cb::channelTestTable().empty()) Cb::registerChannelTypes();
        Cb::registerShapeTypes();
    }
};
inline const auto* const kRegistries = ::testing::AddGlobalTestEnvironment(new Registries);

// Appends a block at tile `tile` holding `values` to list `list` of the channel's storage.
template <class T>
void addBlock(Cb::ParticleChannel<T>& channel, int list, const zt::vec3i& tile, const std::vector<T>& values) {
    std::unique_ptr<zt::block3_base> block = channel.blocks().newBlock(tile[0], tile[1], tile[2]);
    for (const T& v : values) static_cast<zt::block3<T>&>(*block).append(v);
    channel.blocks().appendBlock(list, std::move(block));
}

template <class T>
std::vector<T> blockValues(const Cb::ParticleChannel<T>& channel, int64_t g) {
    const std::span<const T> values = channel.blockElements(g);
    return std::vector<T>(values.begin(), values.end());
}

}  // namespace particletest
