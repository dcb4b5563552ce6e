#include "FieldGrids.h"

#include <openvdb/openvdb.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cb/fields/FieldChannel.h"
#include "zt/tile_layout3.h"

namespace {

template <class T>
struct GridOf;
template <>
struct GridOf<float> {
    using type = openvdb::FloatGrid;
};
template <>
struct GridOf<int> {
    using type = openvdb::Int32Grid;
};
template <>
struct GridOf<int64_t> {
    using type = openvdb::Int64Grid;
};

const char* const kAxisSuffix[3] = {".x", ".y", ".z"};
const char* const kCoarseSuffix = "@coarse";

// Equal bit for bit: -0 differs from 0, and a NaN background matches the same NaN.
template <class T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Where the field holds no value for a voxel the library samples the
// background there, and so does the grid.
template <class T>
const T& fineValue(const zt::field3<T>& field, int64_t index) {
    return index < field.fineValues().count() ? field.fineValues()[index] : field.background();
}
template <class T>
const T& coarseValue(const zt::field3<T>& field, int64_t slot) {
    return slot < field.coarseValues().count() ? field.coarseValues()[slot] : field.background();
}

// f(voxel, index) for every voxel of fine-list slot s, in the values' order.
template <class F>
void forEachVoxelOfTile(const zt::tile_layout3& layout, int64_t s, F&& f) {
    const zt::tile3* tile = layout.fineTile(s);
    if (!tile) return;
    const int n = int(layout.tileSize());
    const zt::vec3i& o = tile->origin();
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) f(openvdb::Coord(o[0] + x, o[1] + y, o[2] + z), tile->voxelIndex(x, y, z));
}

// f(tile coordinates) for coarse-list slot s.
template <class F>
void forCoarseTile(const zt::tile_layout3& layout, int64_t s, F&& f) {
    if (const zt::tile3* tile = layout.coarseTile(s)) f(openvdb::Coord(tile->i(), tile->j(), tile->k()));
}

// A grid filled by put(accessor, slot) for each slot from `first` on. One
// worker: sharing the slots among TBB's workers, each filling a tree of its
// own merged after, measured no faster on two cores and took more memory.
template <class GridT, class Put>
typename GridT::Ptr buildGrid(const typename GridT::ValueType& background, int64_t first, int64_t slots,
                              const Put& put) {
    typename GridT::Ptr grid = GridT::create(background);
    typename GridT::Accessor acc = grid->getAccessor();
    for (int64_t s = first; s < slots; ++s) put(acc, s);
    return grid;
}

openvdb::Vec3d sampleOffset(const zt::tile_layout3& layout, int sampleSet) {
    const zt::vec3f& o = layout.sampleOffset(sampleSet);
    return {o[0], o[1], o[2]};
}

// A coarse value stands at the sample point of its tile's middle voxel.
openvdb::math::Transform::Ptr coarseTransform(const zt::tile_layout3& layout, int sampleSet) {
    const double h = layout.cellSize();
    const double half = double(layout.tileSize() / 2) * h;
    return voxelTransform(h * layout.tileSize(), sampleOffset(layout, sampleSet) + openvdb::Vec3d(half));
}

// The context of one channel's grids.
struct ChannelGrids {
    const Cb::FieldChannelBase& channel;
    const zt::tile_layout3& layout;
    const GridOrigin& origin;
    const GridSink& sink;

    // Describes and hands out a grid; an empty coarse grid is dropped.
    void emit(openvdb::GridBase::Ptr grid, const std::string& suffix, bool coarse) const {
        if (coarse && grid->activeVoxelCount() == 0) return;
        describeGrid(*grid, origin, channel.name() + suffix + (coarse ? kCoarseSuffix : ""), channel.name());
        grid->insertMeta("ztp_channel_type", openvdb::StringMetadata(channel.typeName()));
        grid->insertMeta("ztp_level", openvdb::StringMetadata(coarse ? "coarse" : "fine"));
        grid->insertMeta("ztp_tile_size", openvdb::Int32Metadata(int32_t(layout.tileSize())));
        sink(std::move(grid));
    }

    template <class T>
    void scalar(const zt::field3<T>& field, const std::string& suffix, bool fineOnly) const {
        using GridT = typename GridOf<T>::type;
        const T background = field.background();
        for (const bool coarse : {false, true}) {
            if (coarse && fineOnly) break;
            typename GridT::Ptr grid;
            const auto copy = [&](typename GridT::Accessor& acc, const openvdb::Coord& voxel, const T& value) {
                if (!sameBits(value, background)) acc.setValueOn(voxel, value);
            };
            if (coarse) {
                grid = buildGrid<GridT>(background, 1, layout.coarseCount(), [&](auto& acc, int64_t s) {
                    forCoarseTile(layout, s, [&](const openvdb::Coord& t) { copy(acc, t, coarseValue(field, s)); });
                });
                grid->setTransform(coarseTransform(layout, field.sampleSet()));
            } else {
                grid = buildGrid<GridT>(background, 0, layout.fineCount(), [&](auto& acc, int64_t s) {
                    forEachVoxelOfTile(layout, s,
                                       [&](const openvdb::Coord& v, int64_t i) { copy(acc, v, fineValue(field, i)); });
                });
                grid->setTransform(voxelTransform(layout.cellSize(), sampleOffset(layout, field.sampleSet())));
            }
            grid->insertMeta("ztp_sample_set", openvdb::Int32Metadata(field.sampleSet()));
            emit(grid, suffix, coarse);
        }
    }

    void vector(const Cb::FieldChannel3f& vec, bool fineOnly) const {
        const zt::field3<float>* f[3] = {&vec.field(0), &vec.field(1), &vec.field(2)};
        const int sets[3] = {f[0]->sampleSet(), f[1]->sampleSet(), f[2]->sampleSet()};
        const bool shared = sets[0] == sets[1] && sets[1] == sets[2];
        const bool staggered = sets[0] == 2 && sets[1] == 3 && sets[2] == 4;
        if (!shared && !staggered) {
            for (int c = 0; c < 3; ++c) scalar(*f[c], kAxisSuffix[c], fineOnly);
            return;
        }
        const openvdb::Vec3s background(f[0]->background(), f[1]->background(), f[2]->background());
        // The staggered grid's voxels are centred; its coarse one too.
        const int gridSet = staggered ? 1 : sets[0];
        using Accessor = openvdb::Vec3SGrid::Accessor;
        for (const bool coarse : {false, true}) {
            if (coarse && fineOnly) break;
            openvdb::Vec3SGrid::Ptr grid;
            if (coarse) {
                grid =
                    buildGrid<openvdb::Vec3SGrid>(background, 1, layout.coarseCount(), [&](Accessor& acc, int64_t s) {
                        forCoarseTile(layout, s, [&](const openvdb::Coord& t) {
                            const openvdb::Vec3s v(coarseValue(*f[0], s), coarseValue(*f[1], s), coarseValue(*f[2], s));
                            if (!sameBits(v, background)) acc.setValueOn(t, v);
                        });
                    });
            } else if (!staggered) {
                grid = buildGrid<openvdb::Vec3SGrid>(background, 0, layout.fineCount(), [&](Accessor& acc, int64_t s) {
                    forEachVoxelOfTile(layout, s, [&](const openvdb::Coord& voxel, int64_t i) {
                        const openvdb::Vec3s v(fineValue(*f[0], i), fineValue(*f[1], i), fineValue(*f[2], i));
                        if (!sameBits(v, background)) acc.setValueOn(voxel, v);
                    });
                });
            } else {
                // Component c sits on the high c-face of voxel u, which is the
                // low c-face of voxel u + e_c, where a staggered grid keeps it.
                grid = buildGrid<openvdb::Vec3SGrid>(background, 0, layout.fineCount(), [&](Accessor& acc, int64_t s) {
                    for (int c = 0; c < 3; ++c) {
                        openvdb::Coord shift(0, 0, 0);
                        shift[c] = 1;
                        forEachVoxelOfTile(layout, s, [&](const openvdb::Coord& voxel, int64_t i) {
                            const float value = fineValue(*f[c], i);
                            if (sameBits(value, background[c])) return;
                            openvdb::Vec3s v = acc.getValue(voxel + shift);
                            v[c] = value;
                            acc.setValueOn(voxel + shift, v);
                        });
                    }
                });
            }
            if (coarse) {
                grid->setTransform(coarseTransform(layout, gridSet));
            } else {
                grid->setTransform(voxelTransform(layout.cellSize(), sampleOffset(layout, gridSet)));
                if (staggered) grid->setGridClass(openvdb::GRID_STAGGERED);
            }
            grid->insertMeta("ztp_sample_sets", openvdb::Vec3IMetadata(openvdb::Vec3i(sets[0], sets[1], sets[2])));
            emit(grid, "", coarse);
        }
    }
};

// Values the layout has no voxels for are not written; voxels without a
// value are background, as the library samples them. Either is worth a word.
// True when it warned.
template <class T>
bool warnAboutCounts(const zt::field3<T>& field, const zt::tile_layout3& layout, const GridOrigin& origin,
                     const std::string& channel) {
    const int64_t fine = field.fineValues().count(), coarse = field.coarseValues().count();
    if (fine == layout.fineVoxelCount() && coarse == layout.coarseCount()) return false;
    std::fprintf(stderr,
                 "ztp2vdb: warning: field channel '%s' of body '%s' holds %lld fine and %lld coarse values for "
                 "%lld fine voxels and %lld coarse tiles: voxels without a value are background\n",
                 channel.c_str(), origin.body.c_str(), static_cast<long long>(fine), static_cast<long long>(coarse),
                 static_cast<long long>(layout.fineVoxelCount()), static_cast<long long>(layout.coarseCount()));
    return true;
}

}  // namespace

openvdb::math::Transform::Ptr voxelTransform(double voxelSize, const openvdb::Vec3d& offset) {
    openvdb::math::Transform::Ptr transform = openvdb::math::Transform::createLinearTransform(voxelSize);
    transform->postTranslate(offset);
    return transform;
}

bool fieldChannelGrids(const Cb::FieldChannelBase& channel, const zt::tile_layout3& layout, const GridOrigin& origin,
                       bool fineOnly, const GridSink& sink) {
    const ChannelGrids grids{channel, layout, origin, sink};
    if (const auto* c = dynamic_cast<const Cb::FieldChannel1f*>(&channel)) {
        warnAboutCounts(c->field(), layout, origin, channel.name());
        grids.scalar(c->field(), "", fineOnly);
    } else if (const auto* c = dynamic_cast<const Cb::FieldChannel1i*>(&channel)) {
        warnAboutCounts(c->field(), layout, origin, channel.name());
        grids.scalar(c->field(), "", fineOnly);
    } else if (const auto* c = dynamic_cast<const Cb::FieldChannel1i64*>(&channel)) {
        warnAboutCounts(c->field(), layout, origin, channel.name());
        grids.scalar(c->field(), "", fineOnly);
    } else if (const auto* c = dynamic_cast<const Cb::FieldChannel3f*>(&channel)) {
        for (int k = 0; k < 3; ++k)
            if (warnAboutCounts(c->field(k), layout, origin, channel.name())) break;
        grids.vector(*c, fineOnly);
    } else {
        return false;
    }
    return true;
}
