#pragma once
// Helpers of the field tests: the registries and global context as start-up
// leaves them, and small layouts with fields sized to them.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "MessageOf.h"
#include "cb/factory/BuiltinTypes.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "cb/values/ValueTypes.h"
#include "zt/field3.h"

namespace fieldtest {

using testsupport::messageOf;

struct Registries : ::testing::Environment {
    void SetUp() override {
        Cb::QelContext::createGlobal();
        Cb::registerValueTypes();
        if (Cb::channelTestTable().empty()) Cb::registerChannelTypes();
        Cb::registerShapeTypes();
    }
    void TearDown() override {
        Cb::releaseValueTypes();
        Cb::QelContext::destroyGlobal();
    }
};
inline const auto* const kRegistries = ::testing::AddGlobalTestEnvironment(new Registries);

// Cell size 1, tile size N, fine tiles (0,0,0) and (1,0,0) and their shell of
// 34 coarse tiles (coarse list 35 long).
inline std::unique_ptr<zt::tile_layout3> twoTileLayout(uint32_t N) {
    auto layout = std::make_unique<zt::tile_layout3>(1.0f, N);
    layout->addTile(0, 0, 0, false);
    layout->addTile(1, 0, 0, false);
    layout->updateNeighbours(true);
    return layout;
}

// Index of voxel (x, y, z) of a layout with cell size 1.
inline int64_t voxel(const zt::tile_layout3& layout, int x, int y, int z) {
    return layout.indexAt({float(x) + 0.5f, float(y) + 0.5f, float(z) + 0.5f}, 0);
}

template <class T>
zt::field3<T> sizedField(const zt::tile_layout3& layout, T background, int sampleSet = 0) {
    zt::field3<T> field(background, sampleSet);
    field.resize(layout);
    return field;
}

}  // namespace fieldtest
