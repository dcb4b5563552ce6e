// The coordinate hash map under the tile layout.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "zt/tile_map3.h"

namespace {

// The map stores pointers only; fake addresses are enough to tell entries apart.
zt::tile3* fake(int n) { return reinterpret_cast<zt::tile3*>(uintptr_t(n + 1) * 16); }

}  // namespace

TEST(TileMap, HashIsTheGoldenRatioMixInThirtyTwoBits) {
    // Reference values computed independently of the library.
    EXPECT_EQ(0xcf74c9e8u, zt::tile_map3::hash(1, 2, 3));
    EXPECT_EQ(0u, zt::tile_map3::hash(0, 0, 0));
    EXPECT_EQ(0x799000fbu, zt::tile_map3::hash(uint32_t(-1), 5, uint32_t(-7)));
}

TEST(TileMap, GrowsPastItsFirstPoolAndFindsEveryEntry) {
    zt::tile_map3 map;
    EXPECT_EQ(128, map.bucketCount());
    std::map<std::tuple<int, int, int>, zt::tile3*> expected;
    int n = 0;
    for (int i = -12; i < 12; ++i)
        for (int j = -12; j < 12; ++j)
            for (int k = -6; k < 6; ++k) {
                map.insert(i, j, k, fake(n));
                expected[{i, j, k}] = fake(n);
                ++n;
                if (n == 128) {
                    EXPECT_EQ(128, map.bucketCount());
                }
                if (n == 129) {
                    EXPECT_EQ(256, map.bucketCount());
                }
            }
    ASSERT_EQ(6912, n);
    EXPECT_EQ(n, map.size());
    EXPECT_EQ(8192, map.bucketCount());
    for (const auto& [key, tile] : expected)
        ASSERT_EQ(tile, map.find(std::get<0>(key), std::get<1>(key), std::get<2>(key)));
    EXPECT_EQ(nullptr, map.find(12, 0, 0));
    EXPECT_EQ(nullptr, map.find(0, 0, -7));
    EXPECT_EQ(nullptr, map.find(INT32_MIN, INT32_MAX, 0));
}

TEST(TileMap, EraseUnlinksFromChainsAndReusesEntries) {
    zt::tile_map3 map;
    // Keys sharing one bucket, so removal has to unlink inside a chain.
    std::vector<std::tuple<int, int, int>> same;
    const uint32_t target = zt::tile_map3::hash(0, 0, 0) & 127u;
    for (int k = 0; same.size() < 3; ++k)
        if ((zt::tile_map3::hash(0, 0, uint32_t(k)) & 127u) == target) same.emplace_back(0, 0, k);
    for (size_t n = 0; n < same.size(); ++n)
        map.insert(std::get<0>(same[n]), std::get<1>(same[n]), std::get<2>(same[n]), fake(int(n)));
    EXPECT_TRUE(map.erase(0, 0, std::get<2>(same[1])));  // middle of the chain
    EXPECT_FALSE(map.erase(0, 0, std::get<2>(same[1])));
    EXPECT_EQ(fake(0), map.find(0, 0, std::get<2>(same[0])));
    EXPECT_EQ(nullptr, map.find(0, 0, std::get<2>(same[1])));
    EXPECT_EQ(fake(2), map.find(0, 0, std::get<2>(same[2])));
    EXPECT_EQ(2, map.size());

    // Filling to exactly the pool size after removals must not grow.
    for (int n = 0; n < 126; ++n) map.insert(1000 + n, -n, 7, fake(100 + n));
    EXPECT_EQ(128, map.size());
    EXPECT_EQ(128, map.bucketCount());
    EXPECT_EQ(fake(150), map.find(1050, -50, 7));

    map.clear();
    EXPECT_EQ(0, map.size());
    EXPECT_EQ(128, map.bucketCount());
    EXPECT_EQ(nullptr, map.find(0, 0, std::get<2>(same[0])));
    map.insert(0, 0, 0, fake(9));
    EXPECT_EQ(fake(9), map.find(0, 0, 0));
}
