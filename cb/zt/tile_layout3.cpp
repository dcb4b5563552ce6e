#include "zt/tile_layout3.h"

#include <climits>
#include <cmath>

#include "zt/cat.h"

namespace zt {

namespace {

void checkGeometry(float cellSize, int64_t N) {
    if (!(std::isfinite(cellSize) && cellSize > 0.0f))
        throw ztx::base(cat("Invalid tile-layout cell size ", cellSize));
    if (N < 1 || N > int64_t(tile_layout3::kMaxTileSize))
        throw ztx::base(cat("Invalid tile-layout tile size ", N));
}

// Room for one more slot, growing geometrically, so that a push_back after it
// cannot fail.
void ensureRoom(array1<tile3*>& list) {
    if (list.count() == list.capacity()) list.reserve(list.capacity() * 2 + 1);
}

// Walking from the end, every empty slot takes the list's last entry and the
// list shrinks by one. Field values and block lists follow the same rule.
void compactList(array1<tile3*>& list, int64_t firstSlot, int64_t offsetPerSlot,
                 void (*relocate)(tile3&, int64_t)) {
    for (int64_t k = list.count() - 1; k >= firstSlot; --k) {
        if (list[k]) continue;
        const int64_t last = list.count() - 1;
        if (k != last) {
            list[k] = list[last];
            relocate(*list[k], k * offsetPerSlot);
        }
        list.resize(last);
    }
}

}  // namespace

tile_layout3::tile_layout3(float cellSize, uint32_t N) {
    checkGeometry(cellSize, N);
    setGeometry(cellSize, N);
    coarse_.push_back(nullptr);
}

tile_layout3::tile_layout3(const tile_layout3& other) : tile_layout3(other.cellSize_, other.N_) {
    for (const tile3* t : other.fine_) {
        if (t)
            addTile(t->i(), t->j(), t->k(), false);
        else
            appendEmptyFineSlot();
    }
    for (int64_t s = 1; s < other.coarse_.count(); ++s) {
        const tile3* t = other.coarse_[s];
        if (!t) {
            appendEmptyCoarseSlot();
            continue;
        }
        const tile3* r = t->requester();
        addCoarseTile(t->i(), t->j(), t->k(), r ? findTile(r->i(), r->j(), r->k()) : nullptr);
    }
    // Tables are copied rather than rebuilt, so the copy gains no coarse tile
    // the original lacks: storage cloned along with it keeps matching.
    auto mirror = [this](const array1<tile3*>& from, const array1<tile3*>& to) {
        for (int64_t s = 0; s < from.count(); ++s) {
            const tile3* src = from[s];
            if (!src) continue;
            tile3* dst = to[s];
            dst->previousOffset_ = src->previousOffset_;
            for (int e = 0; e < tile3::kNeighbourCount; ++e) {
                const tile3* n = src->neighbours_[e];
                dst->neighbours_[e] = n ? findTile(n->i(), n->j(), n->k()) : nullptr;
            }
        }
    };
    mirror(other.fine_, fine_);
    mirror(other.coarse_, coarse_);
    dirty_ = other.dirty_;
    emptyFineSlots_ = other.emptyFineSlots_;
    emptyCoarseSlots_ = other.emptyCoarseSlots_;
}

void tile_layout3::setGeometry(float cellSize, uint32_t N) {
    cellSize_ = cellSize;
    halfCellSize_ = cellSize * 0.5f;
    invCellSize_ = 1.0f / cellSize;
    const float h = cellSize_, c = halfCellSize_;
    sampleOffsets_[0] = {{0.0f, 0.0f, 0.0f}};
    sampleOffsets_[1] = {{c, c, c}};
    sampleOffsets_[2] = {{h, c, c}};
    sampleOffsets_[3] = {{c, h, c}};
    sampleOffsets_[4] = {{c, c, h}};
    N_ = N;
    N3_ = N * N * N;
}

void tile_layout3::reset(float cellSize, int N) {
    const float h = cellSize < 0.0f ? cellSize_ : cellSize;
    const int64_t n = N < 0 ? int64_t(N_) : int64_t(N);
    checkGeometry(h, n);
    tiles_.clear();
    map_.clear();
    fine_.clear();
    coarse_.clear();
    coarse_.push_back(nullptr);
    fineVoxelCount_ = 0;
    dirty_ = true;
    emptyFineSlots_ = emptyCoarseSlots_ = false;
    setGeometry(h, uint32_t(n));
}

void tile_layout3::checkSampleSet(int sampleSet) {
    if (sampleSet < 0 || sampleSet >= kSampleSetCount)
        throw ztx::base(cat("Invalid sample set ", sampleSet));
}

void tile_layout3::checkCoordinates(int i, int j, int k, bool fine) const {
    const int64_t limit = int64_t(INT_MAX) / N_ - (fine ? 2 : 1);
    auto outside = [limit](int c) { return c > limit || -int64_t(c) > limit; };
    if (outside(i) || outside(j) || outside(k))
        throw ztx::base(cat("Tile coordinates out of range: (", i, ", ", j, ", ", k, ")"));
}

tile3& tile_layout3::newTile(int i, int j, int k, int level, int64_t offset, tile3* requester) {
    tile3& t = tiles_.emplace_back(this, i, j, k, N_, level, offset, requester);
    try {
        map_.insert(i, j, k, &t);
    } catch (...) {
        tiles_.pop_back();
        throw;
    }
    return t;
}

tile3* tile_layout3::addTile(int i, int j, int k, bool withNeighbours) {
    tile3* t = map_.find(i, j, k);
    if (t && t->isFine()) return t;
    checkCoordinates(i, j, k, true);
    ensureRoom(fine_);
    if (t)
        promote(*t);
    else
        t = &newTile(i, j, k, 0, fineVoxelCount_, nullptr);
    fine_.push_back(t);
    fineVoxelCount_ += N3_;
    dirty_ = true;
    if (withNeighbours) fillNeighbours(*t);
    return t;
}

void tile_layout3::promote(tile3& t) {
    const int64_t slot = t.offset();
    if (slot < 1 || slot >= coarse_.count() || coarse_[slot] != &t)
        throw ztx::base("Corrupt tile-layout: coarse tile lost!");
    coarse_[slot] = nullptr;
    emptyCoarseSlots_ = true;
    t.promote(fineVoxelCount_);
}

tile3* tile_layout3::addCoarseTile(int i, int j, int k, tile3* requester) {
    if (tile3* t = map_.find(i, j, k)) return t;
    checkCoordinates(i, j, k, false);
    ensureRoom(coarse_);
    tile3& t = newTile(i, j, k, 1, coarse_.count(), requester);
    coarse_.push_back(&t);
    return &t;
}

void tile_layout3::appendEmptyFineSlot() {
    fine_.push_back(nullptr);
    fineVoxelCount_ += N3_;
    emptyFineSlots_ = true;
}

void tile_layout3::appendEmptyCoarseSlot() {
    coarse_.push_back(nullptr);
    emptyCoarseSlots_ = true;
}

void tile_layout3::fillNeighbours(tile3& t) {
    for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                t.neighbours_[tile3::neighbourEntry(dx, dy, dz)] =
                    addCoarseTile(t.i() + dx, t.j() + dy, t.k() + dz, &t);
}

void tile_layout3::updateNeighbours(bool create) {
    if (!dirty_) return;
    // The fine list does not change while coarse tiles are appended.
    for (tile3* t : fine_) {
        if (!t) continue;
        if (create)
            fillNeighbours(*t);
        else
            t->clearNeighbours();
    }
    for (tile3* t : coarse_)
        if (t) t->clearNeighbours();
    dirty_ = false;
}

void tile_layout3::settle() {
    auto relocate = [](tile3& t, int64_t offset) { t.relocate(offset); };
    compactList(fine_, 0, N3_, relocate);
    compactList(coarse_, 1, 1, relocate);
    fineVoxelCount_ = fine_.count() * N3_;
    for (tile3* t : fine_) t->previousOffset_ = -1;
    for (int64_t s = 1; s < coarse_.count(); ++s) coarse_[s]->previousOffset_ = -1;
    emptyFineSlots_ = emptyCoarseSlots_ = false;
    dirty_ = true;
    updateNeighbours(true);
}

array1<vec3i> tile_layout3::fineCoordinates() const {
    array1<vec3i> out(fine_.count());
    for (int64_t s = 0; s < fine_.count(); ++s) out[s] = fine_[s] ? fine_[s]->coord() : vec3i{};
    return out;
}

array1<vec3i> tile_layout3::coarseCoordinates() const {
    array1<vec3i> out(coarse_.count());
    for (int64_t s = 0; s < coarse_.count(); ++s)
        out[s] = coarse_[s] ? coarse_[s]->coord() : vec3i{};
    return out;
}

bool tile_layout3::voxelAt(const vec3f& p, int sampleSet, vec3i& voxel, vec3f* fraction) const {
    const vec3f& o = sampleOffsets_[sampleSet];
    for (int a = 0; a < 3; ++a) {
        const float g = (p[a] - o[a]) * invCellSize_;
        const float v = std::floor(g);
        // Also false for NaN.
        if (!(v >= -2147483648.0f && v < 2147483648.0f)) return false;
        voxel[a] = int(v);
        if (fraction) (*fraction)[a] = g - v;
    }
    return true;
}

int64_t tile_layout3::indexAt(const vec3f& p, int sampleSet) const {
    checkSampleSet(sampleSet);
    vec3i v;
    if (!voxelAt(p, sampleSet, v)) return -1;
    const tile3* t = findTile(tileOfVoxel(v));
    if (!t) return -1;
    const vec3i& o = t->origin();
    return t->voxelIndex(v[0] - o[0], v[1] - o[1], v[2] - o[2]);
}

vec3f tile_layout3::positionOf(int64_t index, int sampleSet) const {
    checkSampleSet(sampleSet);
    const vec3f& so = sampleOffsets_[sampleSet];
    const tile3* t = nullptr;
    int64_t local[3];
    if (index >= 0) {
        const int64_t slot = index / N3_;
        if (slot < fine_.count()) t = fine_[slot];
        if (t) {
            const int64_t l = index - t->offset();
            local[0] = l % N_;
            local[1] = (l / N_) % N_;
            local[2] = l / (int64_t(N_) * N_);
        }
    } else if (index != INT64_MIN && -index < coarse_.count()) {
        t = coarse_[-index];
        local[0] = local[1] = local[2] = t ? t->half() : 0;
    }
    if (!t) throw ztx::base(cat("Voxel index ", index, " is not in the tile layout"));
    vec3f p;
    for (int a = 0; a < 3; ++a) p[a] = float(t->origin()[a] + local[a]) * cellSize_ + so[a];
    return p;
}

bool tile_layout3::stencil(const vec3f& p, int sampleSet, trilinear_stencil& out) const {
    vec3i v;
    vec3f f;
    if (!voxelAt(p, sampleSet, v, &f)) return false;
    const tile3* base = findTile(tileOfVoxel(v));
    if (!base || !base->isFine()) return false;
    const int n = int(N_);
    const vec3i& o = base->origin();
    const int lx = v[0] - o[0], ly = v[1] - o[1], lz = v[2] - o[2];
    const float wx[2] = {1.0f - f[0], f[0]};
    const float wy[2] = {1.0f - f[1], f[1]};
    const float wz[2] = {1.0f - f[2], f[2]};
    for (int c = 0; c < 8; ++c) {
        const int a = c & 1, b = (c >> 1) & 1, d = c >> 2;
        // Past the tile's high face a coordinate wraps to 0 in the next tile.
        int x = lx + a, y = ly + b, z = lz + d;
        const int dx = x == n, dy = y == n, dz = z == n;
        x -= dx * n;
        y -= dy * n;
        z -= dz * n;
        const tile3* t = (dx | dy | dz) ? base->neighbour(dx, dy, dz) : base;
        out.tile[c] = t;
        out.index[c] = t ? t->voxelIndex(x, y, z) : 0;
        out.weight[c] = wx[a] * wy[b] * wz[d];
    }
    return true;
}

}  // namespace zt
