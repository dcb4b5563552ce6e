#pragma once
// zt::tile_map3: the open hash map from tile coordinates (i, j, k) to tiles.
// Buckets hold the first entry of a chain; entries come from a pool of the
// same size whose unused entries form a free list. When the pool runs out,
// buckets and pool double, so a lookup walks a chain of about one entry.

#include <cstdint>

#include "zt/array1.h"

namespace zt {

class tile3;

class tile_map3 {
public:
    static constexpr int64_t kInitialBuckets = 128;
    // Chains link entries with 32-bit indices.
    static constexpr int64_t kMaxEntries = int64_t(1) << 30;

    tile_map3() { clear(); }

    // Bucket hash before masking, in 32-bit unsigned arithmetic.
    static constexpr uint32_t hash(uint32_t i, uint32_t j, uint32_t k) {
        return (((i ^ j) * 0x9E3779B9u) ^ k) * 0x9E3779B9u;
    }

    tile3* find(int i, int j, int k) const {
        const uint32_t ui = uint32_t(i), uj = uint32_t(j), uk = uint32_t(k);
        int32_t e = buckets_[bucketOf(ui, uj, uk)];
        while (e >= 0) {
            const entry& en = pool_[e];
            if (en.i == ui && en.j == uj && en.k == uk) return en.tile;
            e = en.next;
        }
        return nullptr;
    }

    // Adds a tile whose coordinates are not in the map yet. Throws when the
    // map would outgrow kMaxEntries; on any failure the map is unchanged.
    void insert(int i, int j, int k, tile3* tile);
    // Removes the entry of (i, j, k); false when there is none.
    bool erase(int i, int j, int k);
    // Back to an empty map of kInitialBuckets buckets.
    void clear();

    int64_t size() const { return size_; }
    int64_t bucketCount() const { return buckets_.count(); }

private:
    struct entry {
        uint32_t i, j, k;
        tile3* tile;
        int32_t next;  // -1 ends a chain or the free list
    };

    int64_t bucketOf(uint32_t i, uint32_t j, uint32_t k) const {
        return int64_t(hash(i, j, k) & uint32_t(buckets_.count() - 1));
    }
    void grow();

    array1<int32_t> buckets_;
    array1<entry> pool_;
    int32_t free_ = -1;
    int64_t size_ = 0;
};

}  // namespace zt
