#include "zt/tile_map3.h"

#include "zt/cat.h"

namespace zt {

void tile_map3::clear() {
    array1<int32_t> buckets(kInitialBuckets);
    buckets.fill(-1);
    array1<entry> pool(kInitialBuckets);
    for (int64_t e = 0; e < kInitialBuckets; ++e)
        pool[e] = entry{0, 0, 0, nullptr, e + 1 < kInitialBuckets ? int32_t(e + 1) : -1};
    buckets_.swap(buckets);
    pool_.swap(pool);
    free_ = 0;
    size_ = 0;
}

void tile_map3::grow() {
    // The free list is empty, so every pool entry is in use.
    const int64_t n = pool_.count();
    const int64_t doubled = n * 2;
    if (doubled > kMaxEntries)
        throw ztx::base(cat("Tile layout cannot hold more than ", kMaxEntries, " tiles"));
    array1<int32_t> buckets(doubled);
    buckets.fill(-1);
    array1<entry> pool(doubled);
    const uint32_t mask = uint32_t(doubled - 1);
    for (int64_t e = 0; e < n; ++e) {
        entry en = pool_[e];
        const uint32_t b = hash(en.i, en.j, en.k) & mask;
        en.next = buckets[b];
        buckets[b] = int32_t(e);
        pool[e] = en;
    }
    for (int64_t e = n; e < doubled; ++e)
        pool[e] = entry{0, 0, 0, nullptr, e + 1 < doubled ? int32_t(e + 1) : -1};
    buckets_.swap(buckets);
    pool_.swap(pool);
    free_ = int32_t(n);
}

void tile_map3::insert(int i, int j, int k, tile3* tile) {
    if (free_ < 0) grow();
    const int32_t e = free_;
    entry& en = pool_[e];
    free_ = en.next;
    en.i = uint32_t(i);
    en.j = uint32_t(j);
    en.k = uint32_t(k);
    en.tile = tile;
    const int64_t b = bucketOf(en.i, en.j, en.k);
    en.next = buckets_[b];
    buckets_[b] = e;
    ++size_;
}

bool tile_map3::erase(int i, int j, int k) {
    const uint32_t ui = uint32_t(i), uj = uint32_t(j), uk = uint32_t(k);
    int32_t* link = &buckets_[bucketOf(ui, uj, uk)];
    while (*link >= 0) {
        entry& en = pool_[*link];
        if (en.i == ui && en.j == uj && en.k == uk) {
            const int32_t e = *link;
            *link = en.next;
            en.tile = nullptr;
            en.next = free_;
            free_ = e;
            --size_;
            return true;
        }
        link = &en.next;
    }
    return false;
}

}  // namespace zt
