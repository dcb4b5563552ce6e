#pragma once
// zt::tile_layout3: the sparse set of tiles of one body. It maps tile
// coordinates to tiles, numbers every stored voxel with one flat index and
// converts between positions and voxel indices.
//
// Voxel indices: a voxel at local (x, y, z) of the fine tile in fine-list slot
// p has index p*N^3 + x + y*N + z*N^2; every voxel of the coarse tile in
// coarse-list slot s (s >= 1; slot 0 is always empty) has index -s.
//
// Fine tiles own a value block in every field of the layout; coarse tiles are
// the shell of placeholders around them. Tiles are owned by the layout and
// stay at the same address until reset() or destruction; a coarse tile that
// becomes fine is the same object.
//
// Keeping fields and block storage in step: after tiles are added, callers
// refresh neighbour tables (updateNeighbours) and resize their storage to the
// lists (each new fine tile's previousOffset() names the coarse slot it was
// promoted from, or is -1). Slots left empty (promotion, appended empty slots)
// are compacted by every owner of per-slot storage, then the layout itself
// compacts the same way in settle(): walking each list from its end, every
// empty slot takes the list's last entry and the list shrinks by one.
//
// Const operations (lookups, indexAt, positionOf, stencil) may run on many
// threads at once; operations that add tiles or slots run on one thread.

#include <cstdint>
#include <deque>

#include "zt/array1.h"
#include "zt/tile3.h"
#include "zt/tile_map3.h"
#include "zt/vec.h"

namespace zt {

// The eight voxels that trilinear interpolation blends around a point:
// corner c = a + 2b + 4d is the base voxel + (a, b, d).
struct trilinear_stencil {
    const tile3* tile[8];  // null: no tile there (or the base tile's table is not filled)
    int64_t index[8];      // voxel index in that tile (valid when tile is set)
    float weight[8];       // trilinear weight from the fractions
};

class tile_layout3 {
public:
    static constexpr int kSampleSetCount = 5;
    // N^3 values per tile and field: 256^3 is already 16.7 million.
    static constexpr uint32_t kMaxTileSize = 256;

    // Empty layout: no tiles, coarse list holding its empty slot 0, dirty.
    // Throws unless cellSize is finite and positive and 1 <= N <= kMaxTileSize.
    tile_layout3(float cellSize, uint32_t N);
    // Same cell size, N, lists (empty slots included), previous offsets,
    // neighbour tables and flags, with tiles of its own.
    tile_layout3(const tile_layout3& other);
    tile_layout3& operator=(const tile_layout3&) = delete;
    ~tile_layout3() = default;

    // Destroys every tile and empties map and lists; a negative cell size or N
    // keeps the current one. Throws (changing nothing) for invalid values.
    void reset(float cellSize, int N);

    // Throws unless 0 <= sampleSet < kSampleSetCount.
    static void checkSampleSet(int sampleSet);

    // --- geometry ---
    float cellSize() const { return cellSize_; }
    float halfCellSize() const { return halfCellSize_; }
    float invCellSize() const { return invCellSize_; }
    // 0 low corner, 1 centre, 2/3/4 centre of the high x/y/z face of a voxel.
    const vec3f& sampleOffset(int sampleSet) const { return sampleOffsets_[sampleSet]; }
    uint32_t tileSize() const { return N_; }
    uint32_t voxelsPerTile() const { return N3_; }

    // --- lists ---
    // Fine-list length (empty slots included) and N^3 times it.
    int64_t fineCount() const { return fine_.count(); }
    int64_t fineVoxelCount() const { return fineVoxelCount_; }
    // Coarse-list length, its empty slot 0 included.
    int64_t coarseCount() const { return coarse_.count(); }
    // Tile in a slot; null for an empty slot.
    tile3* fineTile(int64_t slot) const { return fine_[slot]; }
    tile3* coarseTile(int64_t slot) const { return coarse_[slot]; }
    const array1<tile3*>& fineTiles() const { return fine_; }
    const array1<tile3*>& coarseTiles() const { return coarse_; }
    // Number of tiles, fine and coarse.
    int64_t tileCount() const { return map_.size(); }
    // Global block index of a tile's particle block: fine slot, or coarse slot
    // + fineCount() - 1.
    int64_t blockIndex(const tile3& t) const {
        return t.isFine() ? t.offset() / N3_ : t.offset() + fine_.count() - 1;
    }
    // Tile coordinates per slot for the layout record; slot 0 of the coarse
    // list and empty slots give (0, 0, 0), so settle() before writing.
    array1<vec3i> fineCoordinates() const;
    array1<vec3i> coarseCoordinates() const;

    // --- building ---
    // One hash probe; null when there is no tile.
    tile3* findTile(int i, int j, int k) const { return map_.find(i, j, k); }
    tile3* findTile(const vec3i& t) const { return map_.find(t[0], t[1], t[2]); }
    // The fine tile at (i, j, k): an existing fine tile, a promoted coarse
    // tile (its coarse slot is left empty) or a new tile; the last two take the
    // next fine block and make the layout dirty. withNeighbours fills the
    // tile's neighbour table at once (creating coarse neighbours). Throws for
    // coordinates whose voxels or neighbours leave the 32-bit voxel range.
    tile3* addTile(int i, int j, int k, bool withNeighbours);
    // The tile at (i, j, k), or a new coarse tile in the next coarse slot.
    tile3* addCoarseTile(int i, int j, int k, tile3* requester);
    // Empty slots that keep list positions in step with block storage.
    void appendEmptyFineSlot();
    void appendEmptyCoarseSlot();
    // When dirty: with create, every fine tile's 27 neighbours are looked up
    // or created as coarse tiles; without, all tables are cleared. Coarse
    // tiles always have cleared tables.
    void updateNeighbours(bool create);
    // After every owner of per-slot storage has compacted: compacts both
    // lists, clears previous offsets and empty-slot flags, refreshes the
    // neighbour tables.
    void settle();

    bool dirty() const { return dirty_; }
    bool hasEmptyFineSlots() const { return emptyFineSlots_; }
    bool hasEmptyCoarseSlots() const { return emptyCoarseSlots_; }
    bool hasEmptySlots() const { return emptyFineSlots_ || emptyCoarseSlots_; }

    // --- positions ---
    // Integer voxel coordinates of the voxel whose sample point lies at or
    // below p on each axis (a true floor), and the fractions p lies past it.
    // False when p is not finite or beyond the 32-bit voxel range.
    bool voxelAt(const vec3f& p, int sampleSet, vec3i& voxel, vec3f* fraction = nullptr) const;
    // Tile coordinates of a voxel (floor division by N).
    vec3i tileOfVoxel(const vec3i& voxel) const {
        const int n = int(N_);
        return {{floorDiv(voxel[0], n), floorDiv(voxel[1], n), floorDiv(voxel[2], n)}};
    }
    // Index of the voxel containing p for a sample set; -1 when there is no
    // tile there. A coarse tile gives -slot, so -1 is also coarse slot 1: use
    // voxelAt/findTile to tell them apart.
    int64_t indexAt(const vec3f& p, int sampleSet) const;
    // Sample point of a voxel index; a coarse index gives the sample point of
    // the tile's middle voxel. Throws for an index no tile holds.
    vec3f positionOf(int64_t index, int sampleSet) const;
    // The eight voxels around p for trilinear blending, reached through the
    // base tile's neighbour table. False when the base tile is missing or coarse.
    bool stencil(const vec3f& p, int sampleSet, trilinear_stencil& out) const;

    static int floorDiv(int a, int n) {
        const int q = a / n;
        return (a % n != 0 && a < 0) ? q - 1 : q;
    }

private:
    void setGeometry(float cellSize, uint32_t N);
    // Fine tiles need room for their neighbours inside the voxel range too.
    void checkCoordinates(int i, int j, int k, bool fine) const;
    tile3& newTile(int i, int j, int k, int level, int64_t offset, tile3* requester);
    void promote(tile3& t);
    void fillNeighbours(tile3& t);

    float cellSize_ = 1.0f;
    float halfCellSize_ = 0.5f;
    float invCellSize_ = 1.0f;
    vec3f sampleOffsets_[kSampleSetCount];
    uint32_t N_ = 1;
    tile_map3 map_;
    array1<tile3*> fine_;
    array1<tile3*> coarse_;
    int64_t fineVoxelCount_ = 0;
    uint32_t N3_ = 1;
    bool dirty_ = true;
    bool emptyFineSlots_ = false;
    bool emptyCoarseSlots_ = false;
    // Owns every tile; a deque never moves its elements when it grows.
    std::deque<tile3> tiles_;
};

}  // namespace zt
