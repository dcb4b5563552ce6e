#pragma once
// zt::tile and zt::tile3: one cubic tile of N x N x N voxels of a
// tile_layout3. A fine tile owns one block of N^3 values in every field of its
// layout; a coarse tile is a placeholder next to fine tiles and has a single
// value per field. Tiles are created, promoted, moved and destroyed by their
// layout only; everyone else reads them.

#include <cstdint>

#include "zt/array1.h"
#include "zt/omp_lock.h"
#include "zt/vec.h"

namespace zt {

class tile_layout3;

class tile {
public:
    virtual ~tile() = default;
    // Turns a coarse tile into a fine one whose first voxel index is newOffset.
    virtual void promote(int64_t newOffset) = 0;

    tile(const tile&) = delete;
    tile& operator=(const tile&) = delete;

    int level() const { return level_; }  // 0 fine, 1 coarse
    bool isFine() const { return level_ == 0; }
    bool isCoarse() const { return level_ != 0; }
    uint32_t N() const { return N_; }
    uint32_t half() const { return half_; }
    // Fine: first voxel index. Coarse: slot in the coarse-tile list.
    int64_t offset() const { return offset_; }
    int sign() const { return sign_; }
    uint32_t stride(int axis) const { return strides_[axis]; }
    // Offset before the tile was last promoted or moved; -1 once the layout settles.
    int64_t previousOffset() const { return previousOffset_; }
    // Guards writers of this tile's values in every field of the layout.
    omp_lock& lock() const { return lock_; }

    // Index of the voxel at local (x, y, z): offset + x + yN + zN^2 in a fine
    // tile, -slot anywhere in a coarse tile.
    int64_t voxelIndex(int x, int y, int z) const {
        return sign_ * (offset_ + int64_t(x) * strides_[0] + int64_t(y) * strides_[1] +
                        int64_t(z) * strides_[2]);
    }

protected:
    tile(int level, uint32_t N, int64_t offset);
    // Fine-tile numbering from newOffset on (level, sign, strides).
    void becomeFine(int64_t newOffset);

    int32_t level_;
    uint32_t N_;
    uint32_t half_;
    int64_t offset_;
    int32_t sign_;
    uint32_t strides_[3];
    int64_t previousOffset_ = -1;
    mutable omp_lock lock_;

    friend class tile_layout3;
};

class tile3 final : public tile {
public:
    static constexpr int kNeighbourCount = 27;
    static constexpr int kSelf = 13;
    // Entry of the neighbour at offset (dx, dy, dz), each in -1..1.
    static constexpr int neighbourEntry(int dx, int dy, int dz) {
        return (dx + 1) + 3 * (dy + 1) + 9 * (dz + 1);
    }

    // A tile at tile coordinates (i, j, k); coarse tiles (level 1) take their
    // list slot as offset and remember the fine tile that asked for them.
    tile3(tile_layout3* layout, int i, int j, int k, uint32_t N, int level, int64_t offset,
          tile3* requester);

    void promote(int64_t newOffset) override;

    int i() const { return i_; }
    int j() const { return j_; }
    int k() const { return k_; }
    vec3i coord() const { return {{i_, j_, k_}}; }
    // First voxel covered on each axis: N * (i, j, k).
    const vec3i& origin() const { return origin_; }
    int64_t end() const { return end_; }
    tile_layout3* layout() const { return layout_; }
    tile3* requester() const { return requester_; }

    // Neighbour tables are filled for fine tiles by the layout's
    // updateNeighbours; a null entry means not filled (or no tile there).
    tile3* neighbour(int entry) const { return neighbours_[entry]; }
    tile3* neighbour(int dx, int dy, int dz) const { return neighbours_[neighbourEntry(dx, dy, dz)]; }

    // Two per-tile scratch arrays for algorithms that annotate tiles; the
    // layout creates them empty and never reads them.
    array1<int64_t>& scratch(int which) { return scratch_[which]; }
    const array1<int64_t>& scratch(int which) const { return scratch_[which]; }

private:
    friend class tile_layout3;
    // Renumbers the tile after its list slot changed.
    void relocate(int64_t newOffset);
    void clearNeighbours();

    int32_t i_, j_, k_;
    vec3i origin_;
    int64_t end_;
    tile_layout3* layout_;
    tile3* neighbours_[kNeighbourCount];
    tile3* requester_;
    array1<int64_t> scratch_[2];
};

}  // namespace zt
