#include "SampleBodies.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cb/factory/Factory.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/qel/FrameTime.h"
#include "cb/values/ValueBase.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/tile3.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace sample {

namespace {

constexpr uint32_t kTileSize = 9;
// A dense table of tile cells costs 4 bytes per cell and worker; beyond this
// the scene would be finer than any particle count allows.
constexpr int64_t kMaxGridCells = int64_t(1) << 26;

// Ranges of particles handled by one worker: fixed by the thread count, but
// the blocks come out the same for any count (ascending ids per block).
struct Chunks {
    int64_t total;
    int count;
    Chunks(int64_t total, int workers) : total(total), count(int(std::clamp<int64_t>(total, 1, workers))) {}
    int64_t begin(int c) const { return total / count * c + std::min<int64_t>(c, total % count); }
    int64_t end(int c) const { return begin(c + 1); }
};

// The tile coordinates a box covers, with one tile of margin all round, as a
// dense table of cells.
class TileGrid {
public:
    TileGrid(const zt::tile_layout3& layout, const Box& box) : layout_(layout) {
        zt::vec3i lo, hi;
        if (!layout.voxelAt(box.lo, 0, lo) || !layout.voxelAt(box.hi, 0, hi))
            throw ztx::base("the scene lies outside the voxel range");
        const zt::vec3i tlo = layout.tileOfVoxel(lo), thi = layout.tileOfVoxel(hi);
        int64_t cells = 1;
        for (int a = 0; a < 3; ++a) {
            lo_[a] = tlo[a] - 1;
            dims_[a] = int64_t(thi[a]) + 1 - lo_[a] + 1;
            cells *= dims_[a];
        }
        if (cells > kMaxGridCells)
            throw ztx::base(zt::cat("the scene spans ", cells, " tiles, more than ", kMaxGridCells));
        cells_ = cells;
    }

    int64_t cells() const { return cells_; }

    // The cell of the tile holding p.
    uint32_t cellOf(const zt::vec3f& p) const {
        zt::vec3i voxel;
        if (!layout_.voxelAt(p, 0, voxel)) throw outside(p);
        const zt::vec3i t = layout_.tileOfVoxel(voxel);
        int64_t cell = 0;
        for (int a = 2; a >= 0; --a) {
            const int64_t local = int64_t(t[a]) - lo_[a];
            if (local < 0 || local >= dims_[a]) throw outside(p);
            cell = cell * dims_[a] + local;
        }
        return uint32_t(cell);
    }

    zt::vec3i tileOf(int64_t cell) const {
        zt::vec3i t;
        for (int a = 0; a < 3; ++a) {
            t[a] = int(lo_[a] + cell % dims_[a]);
            cell /= dims_[a];
        }
        return t;
    }

private:
    static ztx::base outside(const zt::vec3f& p) {
        return ztx::base(zt::cat("particle at (", p[0], ", ", p[1], ", ", p[2],
                                 ") lies outside its body's bounds"));
    }

    const zt::tile_layout3& layout_;
    int64_t lo_[3];
    int64_t dims_[3];
    int64_t cells_ = 0;
};

template <class T>
std::vector<T*> blockData(zt::block3_array<T>& blocks, int64_t slots) {
    std::vector<T*> data(size_t(slots), nullptr);
    for (int64_t s = 0; s < slots; ++s)
        if (zt::block3<T>* b = blocks.typedBlock(0, s)) data[size_t(s)] = b->data();
    return data;
}

// The local voxel of a position within the fine tile that holds it.
int64_t voxelIndexIn(const zt::tile_layout3& layout, const zt::tile3& tile, const zt::vec3f& p) {
    zt::vec3i v;
    layout.voxelAt(p, 0, v);
    const zt::vec3i& o = tile.origin();
    return tile.voxelIndex(v[0] - o[0], v[1] - o[1], v[2] - o[2]);
}

}  // namespace

std::unique_ptr<Cb::Body> makeBody(const std::string& type, const std::string& name) {
    std::unique_ptr<Cb::Body> body(Cb::Factory::instance().createFromSignature(type));
    body->setName(name);
    // As a body matched against its signature states it, so that readers
    // create the body again as this type.
    body->setSignatureName(type);
    return body;
}

float setFloatValue(Cb::Body& body, const std::string& valueName, double number, int component) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", number);
    body.value(valueName)->setExpression(text, component);
    return float(numberValue(body, valueName, component));
}

double numberValue(Cb::Body& body, const std::string& valueName, int component) {
    return body.value(valueName)->evalNumber(Cb::FrameTime(), component, 0);
}

void placeParticles(Cb::Body& body, const ParticleSource& source, float cellSize) {
    zt::tile_layout3& layout = body.mutableLayout();
    layout.reset(cellSize, int(kTileSize));
    const TileGrid grid(layout, source.bounds());
    const int64_t n = source.count();
    const Chunks chunks(n, omp_get_max_threads());
    const size_t cells = size_t(grid.cells());

    // Pass 1: the cell of every particle, and per chunk the particles per cell.
    std::vector<uint32_t> cellOf(static_cast<size_t>(n));
    std::vector<uint32_t> next(size_t(chunks.count) * cells, 0);
    zt::parallel_errors errors;
#pragma omp parallel for schedule(static, 1)
    for (int c = 0; c < chunks.count; ++c) {
        errors.capture([&] {
            uint32_t* counts = next.data() + size_t(c) * cells;
            for (int64_t i = chunks.begin(c); i < chunks.end(c); ++i) {
                const uint32_t cell = grid.cellOf(source.particle(i).position);
                cellOf[size_t(i)] = cell;
                ++counts[cell];
            }
        });
    }
    errors.rethrow();

    // A tile per occupied cell; each chunk's counts become the element where
    // its first particle of that cell goes.
    std::vector<int64_t> slotOf(cells, -1);
    std::vector<std::pair<int64_t, int64_t>> sizes;  // (slot, particles)
    for (size_t cell = 0; cell < cells; ++cell) {
        int64_t total = 0;
        for (int c = 0; c < chunks.count; ++c) {
            uint32_t& k = next[size_t(c) * cells + cell];
            const uint32_t here = k;
            k = uint32_t(total);
            total += here;
        }
        if (total == 0) continue;
        const zt::vec3i t = grid.tileOf(int64_t(cell));
        slotOf[cell] = layout.blockIndex(*layout.addTile(t[0], t[1], t[2], false));
        sizes.emplace_back(slotOf[cell], total);
    }
    layout.updateNeighbours(true);

    Cb::ParticleShape& shape = *body.mutableParticleShape();
    shape.removeChannel("id64");
    shape.createChannel1i64("id64", 0);
    shape.updateLayout(layout);
    if (body.hasShape("Field")) body.mutableShape("Field")->updateLayout(layout);
    zt::block3_array<zt::vec3f>& positionBlocks = shape.positions()->blocks();
    for (const auto& [slot, total] : sizes) positionBlocks.typedBlock(0, slot)->resize(total);
    shape.syncChannels();

    const int64_t slots = layout.fineCount();
    const std::vector<zt::vec3f*> positions = blockData(shape.positions()->blocks(), slots);
    const std::vector<zt::vec3f*> velocities =
        blockData(shape.mutableChannelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks(), slots);
    const std::vector<float*> densities =
        blockData(shape.mutableChannelAs<Cb::ParticleChannel<float>>("density")->blocks(), slots);
    auto* idChannel = shape.mutableChannelAs<Cb::ParticleChannelId64>("id64");
    const std::vector<int64_t*> ids = blockData(idChannel->blocks(), slots);

    // Pass 2: each particle again, into its place.
#pragma omp parallel for schedule(static, 1)
    for (int c = 0; c < chunks.count; ++c) {
        errors.capture([&] {
            uint32_t* place = next.data() + size_t(c) * cells;
            for (int64_t i = chunks.begin(c); i < chunks.end(c); ++i) {
                const uint32_t cell = cellOf[size_t(i)];
                const size_t slot = size_t(slotOf[cell]);
                const uint32_t e = place[cell]++;
                const SampleParticle p = source.particle(i);
                positions[slot][e] = p.position;
                velocities[slot][e] = p.velocity;
                densities[slot][e] = p.density;
                ids[slot][e] = i;
            }
        });
    }
    errors.rethrow();
    idChannel->setNextId(n);
    shape.setModifiedFlags(0);
}

void countParticles(Cb::Body& body) {
    if (!body.hasShape("Field") || body.shape("Field")->indexOf("particle-count") < 0) return;
    const zt::tile_layout3& layout = body.layout();
    auto* channel = body.mutableShape("Field")->mutableChannelAs<Cb::FieldChannelParticleCount>("particle-count");
    zt::field3<float>& field = channel->field();
    field.resize(layout);
    field.fill(0.0f);
    float* counts = field.fineValues().data();
    Cb::ParticleShape& shape = *body.mutableParticleShape();
    zt::block3_array<zt::vec3f>& blocks = shape.positions()->blocks();
    const int64_t slots = layout.fineCount();
    const std::vector<zt::vec3f*> positions = blockData(blocks, slots);
    std::vector<int64_t> sizes(static_cast<size_t>(slots));
    for (int64_t s = 0; s < slots; ++s) sizes[size_t(s)] = blocks.blockSize(0, s);
    // A block's particles lie in its own tile, so each worker writes only the
    // voxels of the tiles it was given.
#pragma omp parallel for schedule(dynamic, 4)
    for (int64_t s = 0; s < slots; ++s) {
        const zt::tile3& tile = *layout.fineTile(s);
        for (int64_t e = 0; e < sizes[size_t(s)]; ++e) counts[voxelIndexIn(layout, tile, positions[size_t(s)][e])] += 1.0f;
    }
    shape.setModifiedFlags(0);
}

void fillMist(Cb::Body& body, const Mist& mist, float cellSize) {
    zt::tile_layout3& layout = body.mutableLayout();
    layout.reset(cellSize, int(kTileSize));
    const TileGrid grid(layout, Mist::bounds());
    const float tileEdge = cellSize * float(kTileSize);
    for (int64_t cell = 0; cell < grid.cells(); ++cell) {
        const zt::vec3i t = grid.tileOf(cell);
        Box box;
        for (int a = 0; a < 3; ++a) {
            box.lo[a] = float(t[a]) * tileEdge;
            box.hi[a] = box.lo[a] + tileEdge;
        }
        if (Mist::touches(box)) layout.addTile(t[0], t[1], t[2], false);
    }
    layout.updateNeighbours(true);
    body.mutableShape("Field")->updateLayout(layout);

    auto* channel = body.mutableShape("Field")->mutableChannelAs<Cb::FieldChannel1f>("density");
    zt::field3<float>& field = channel->field();
    float* values = field.fineValues().data();
    const zt::vec3f offset = layout.sampleOffset(field.sampleSet());
    const int n = int(kTileSize);
    const int64_t slots = layout.fineCount();
#pragma omp parallel for schedule(dynamic, 4)
    for (int64_t s = 0; s < slots; ++s) {
        const zt::tile3& tile = *layout.fineTile(s);
        const zt::vec3i& o = tile.origin();
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const zt::vec3i voxel{{o[0] + x, o[1] + y, o[2] + z}};
                    zt::vec3f p;
                    for (int a = 0; a < 3; ++a) p[a] = float(voxel[a]) * cellSize + offset[a];
                    values[tile.voxelIndex(x, y, z)] = mist.density(p, voxel);
                }
    }
}

}  // namespace sample
