#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_map>

#include "Common.h"
#include "Particles.h"
#include "Values.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/qel/FrameTime.h"
#include "cb/values/ValueBase.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace ztpy {

namespace {

const char* const kPosition = "position";
const char* const kVoxelSizeValue = "Master Voxel Size";

std::string shapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) s += zt::cat(d ? ", " : "", a.shape(d));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

// The array as C-contiguous rows of T. Values are converted when NumPy
// calls it safe within their kind (ints to floats, wider to narrower of the
// same kind); integers must then fit.
template <class T>
py::array asRows(const py::array& given, int64_t rows, const std::string& name) {
    using S = typename element_traits<T>::scalar;
    constexpr int components = element_traits<T>::components;
    const bool shaped = components == 1 ? given.ndim() == 1 && given.shape(0) == rows
                                        : given.ndim() == 2 && given.shape(0) == rows && given.shape(1) == 3;
    if (!shaped) {
        throw py::value_error(zt::cat("particle channel '", name, "' needs an array of shape (", rows,
                                      components == 1 ? ",)" : ", 3)", ", not ", shapeText(given)));
    }
    const py::module_ np = py::module_::import("numpy");
    const py::dtype target = py::dtype::of<S>();
    if (!np.attr("can_cast")(given.dtype(), target, "same_kind").cast<bool>()) {
        throw py::type_error(zt::cat("particle channel '", name, "' holds ", describe(target),
                                     " values: ", describe(given.dtype()), " cannot become them"));
    }
    if constexpr (std::is_integral_v<S>) {
        if (rows > 0 && !np.attr("can_cast")(given.dtype(), target, "safe").cast<bool>()) {
            const py::object lo = np.attr("min")(given), hi = np.attr("max")(given);
            if (lo < py::int_(std::numeric_limits<S>::min()) || hi > py::int_(std::numeric_limits<S>::max())) {
                throw py::value_error(zt::cat("particle channel '", name, "' holds ", describe(target),
                                              " values: ", describe(lo), " .. ", describe(hi), " do not fit"));
            }
        }
    }
    return np.attr("ascontiguousarray")(given, target);
}

// The channel type a new channel takes from its array.
int typeCodeOf(const py::array& a, const std::string& name) {
    const char kind = a.dtype().kind();
    const py::ssize_t size = a.dtype().itemsize();
    const bool integer = kind == 'i' || kind == 'u' || kind == 'b';
    if (a.ndim() == 2 && a.shape(1) == 3 && (kind == 'f' || integer))
        return kind == 'f' ? Cb::kTypeVec3f : Cb::kTypeVec3i;
    if (a.ndim() == 1) {
        if (name == "id64" && integer) return Cb::kTypeInt64;
        if (kind == 'f') return Cb::kTypeFloat;
        if (kind == 'b' || (kind == 'i' && size == 1)) return Cb::kTypeInt8;
        if ((kind == 'i' && size <= 4) || (kind == 'u' && size <= 2)) return Cb::kTypeInt;
        if (integer) return Cb::kTypeInt64;
    }
    throw py::type_error(zt::cat("particle channel '", name, "' needs numbers of shape (n,) or (n, 3), not ",
                                 describe(a.dtype()), " of shape ", shapeText(a)));
}

Cb::Channel* findChannel(Cb::ParticleShape& shape, const std::string& name) {
    const int index = shape.indexOf(name);
    return index < 0 || shape.channel(index)->name() != name ? nullptr : shape.channel(index).get();
}

void createChannel(Cb::ParticleShape& shape, int code, const std::string& name) {
    switch (code) {
        case Cb::kTypeVec3f: shape.createChannel3f(name, zt::vec3f{}); return;
        case Cb::kTypeVec3i: shape.createChannel3i(name, zt::vec3i{}); return;
        case Cb::kTypeFloat: shape.createChannel1f(name, 0.0f); return;
        case Cb::kTypeInt: shape.createChannel1i(name, 0); return;
        case Cb::kTypeInt64: shape.createChannel1i64(name, 0); return;
        case Cb::kTypeInt8: shape.createChannel1i8(name, 0); return;
        default: throwUnsupported(name, code);
    }
}

// One channel to fill: its name, type code and rows converted to its type.
struct ChannelRows {
    std::string name;
    int code;
    py::array rows;
};

ChannelRows prepare(Cb::ParticleShape& shape, const std::string& name, const py::array& given, int64_t rows) {
    if (name == kPosition) throw py::value_error("positions are given to set_particles, not as a channel");
    // Refused here, before the body changes, rather than half-way by the library.
    if (name.empty() || name.find_first_of(" .") != std::string::npos)
        throw py::value_error(zt::cat("particle channel names hold no blanks or dots: '", name, "'"));
    const Cb::Channel* existing = findChannel(shape, name);
    const int code = existing ? existing->typeCode() : typeCodeOf(given, name);
    py::array converted =
        withTypeCode(code, name, [&](auto element) { return asRows<decltype(element)>(given, rows, name); });
    return {name, code, converted};
}

// Writes the given rows into the channel's blocks: stored row r (blocks of
// the fine list in order) takes given row order[r].
template <class T>
void scatter(Cb::ParticleShape& shape, const std::string& name, const T* given, const std::vector<int64_t>& order) {
    zt::block3_array<T>& blocks = shape.mutableChannelAs<Cb::ParticleChannel<T>>(name)->blocks();
    size_t r = 0;
    for (int64_t s = 0; s < blocks.listCount(0); ++s) {
        zt::block3<T>* b = blocks.typedBlock(0, s);
        const int64_t n = b ? b->count() : 0;
        if (r + size_t(n) > order.size()) break;
        T* out = b ? b->data() : nullptr;
        for (int64_t e = 0; e < n; ++e) out[e] = given[order[r++]];
    }
    if (r != order.size())
        throw ztx::base(zt::cat("Channel '", name, "' holds other blocks than the positions: not written"));
    // Given ids: new particles continue after the largest.
    if constexpr (std::is_same_v<T, int64_t>) {
        if (auto* ids = dynamic_cast<Cb::ParticleChannelId64*>(shape.mutableChannel(name).mutableGet())) {
            int64_t next = 0;
            for (size_t i = 0; i < order.size(); ++i)
                if (given[i] >= next) next = given[i] < std::numeric_limits<int64_t>::max() ? given[i] + 1 : given[i];
            ids->setNextId(next);
        }
    }
}

// Runs without the GIL: takes the rows' data, never the array object.
void fill(Cb::ParticleShape& shape, const std::string& name, int code, const void* rows,
          const std::vector<int64_t>& order) {
    withTypeCode(code, name, [&](auto element) {
        using T = decltype(element);
        scatter(shape, name, static_cast<const T*>(rows), order);
    });
}

struct TileKey {
    int i, j, k;
    bool operator==(const TileKey&) const = default;
};
struct TileKeyHash {
    size_t operator()(const TileKey& t) const {
        uint64_t h = uint64_t(uint32_t(t.i)) * 0x9E3779B97F4A7C15ull;
        h ^= uint64_t(uint32_t(t.j)) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
        h ^= uint64_t(uint32_t(t.k)) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
        return size_t(h);
    }
};

// A layout with one fine tile per occupied tile, in order of each tile's
// first particle, and the stored order: the particles of tile 0 in their
// given order, then those of tile 1, ... Returns the particles per tile.
std::vector<int64_t> placeParticles(zt::tile_layout3& layout, const zt::vec3f* p, int64_t n, int64_t* order) {
    std::unordered_map<TileKey, int64_t, TileKeyHash> slots;
    std::vector<TileKey> tiles;
    std::vector<int64_t> counts;
    std::vector<int64_t> slotOf(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        zt::vec3i voxel;
        if (!layout.voxelAt(p[i], 0, voxel))
            throw ztx::base(zt::cat("particle ", i, " at (", p[i][0], ", ", p[i][1], ", ", p[i][2],
                                    ") lies outside the voxel range"));
        const zt::vec3i t = layout.tileOfVoxel(voxel);
        const auto [it, added] = slots.try_emplace(TileKey{t[0], t[1], t[2]}, int64_t(tiles.size()));
        if (added) {
            tiles.push_back(it->first);
            counts.push_back(0);
        }
        slotOf[size_t(i)] = it->second;
        ++counts[size_t(it->second)];
    }
    std::vector<int64_t> next(counts.size());
    for (size_t s = 1; s < counts.size(); ++s) next[s] = next[s - 1] + counts[s - 1];
    for (int64_t i = 0; i < n; ++i) order[next[size_t(slotOf[size_t(i)])]++] = i;
    for (size_t s = 0; s < tiles.size(); ++s) {
        const zt::tile3* tile = layout.addTile(tiles[s].i, tiles[s].j, tiles[s].k, false);
        if (layout.blockIndex(*tile) != int64_t(s)) throw ztx::base("tile layout out of step with its particles");
    }
    layout.updateNeighbours(true);
    return counts;
}

void clearChannels(Cb::Shape& shape) {
    for (int c = 0; c < shape.channelCount(); ++c) shape.mutableChannel(c).mutableGet()->clear();
}

// The voxel size of a new layout: the one given (also set as the body's
// "Master Voxel Size" when it has that value), else that value, else the
// current layout's.
float voxelSizeFor(Cb::Body& body, std::optional<double> given) {
    if (given) {
        if (!std::isfinite(*given) || *given <= 0.0) throw py::value_error("voxel_size must be a positive number");
        if (!body.hasValue(kVoxelSizeValue)) return float(*given);
        body.value(kVoxelSizeValue)->setExpression(numberText(*given), 0);
    }
    if (body.hasValue(kVoxelSizeValue))
        return float(body.valueNumber(kVoxelSizeValue, Cb::FrameTime(), body.layout().cellSize()));
    return body.layout().cellSize();
}

Cb::ParticleShape& particleShapeFor(Cb::Body& body) {
    if (!body.hasShape("Particle")) body.addShape(Cb::createShape("Particle", true));
    Cb::ParticleShape& shape = *body.mutableParticleShape();
    if (!findChannel(shape, kPosition)) shape.createChannel3f(kPosition, zt::vec3f{});
    if (findChannel(shape, kPosition)->typeCode() != Cb::kTypeVec3f)
        throw ztx::base(zt::cat("Body '", body.name(), "': its position channel is not vec3f"));
    return shape;
}

}  // namespace

py::array_t<int64_t> setParticles(BodyHandle& handle, const py::array& positions, const py::dict& channels,
                                  std::optional<double> voxelSize, int tileSize) {
    LibraryLock lock;
    Cb::Body& body = handle.mutableBody();
    if (positions.ndim() != 2 || positions.shape(1) != 3)
        throw py::value_error(zt::cat("positions need shape (n, 3), not ", shapeText(positions)));
    const int64_t n = positions.shape(0);
    if (tileSize < 1 || uint32_t(tileSize) > zt::tile_layout3::kMaxTileSize)
        throw py::value_error(zt::cat("tile_size must lie in 1 .. ", zt::tile_layout3::kMaxTileSize));
    const py::array points = asRows<zt::vec3f>(positions, n, kPosition);
    Cb::ParticleShape& shape = particleShapeFor(body);
    std::vector<ChannelRows> given;
    for (const auto& [key, value] : channels) {
        const std::string name = describe(key);
        const py::array array = py::array::ensure(value);
        if (!array) throw py::type_error(zt::cat("particle channel '", name, "' needs an array of numbers"));
        given.push_back(prepare(shape, name, array, n));
    }
    const float cellSize = voxelSizeFor(body, voxelSize);

    py::array_t<int64_t> orderArray(n);
    int64_t* order = orderArray.mutable_data();
    std::vector<int64_t> kept(static_cast<size_t>(n));
    {
        GilRelease released;
        // Everything that can fail on the particles fails before the body changes.
        auto layout = std::make_unique<zt::tile_layout3>(cellSize, uint32_t(tileSize));
        const std::vector<int64_t> counts =
            placeParticles(*layout, static_cast<const zt::vec3f*>(points.data()), n, order);
        for (const ChannelRows& c : given)
            if (!findChannel(shape, c.name)) createChannel(shape, c.code, c.name);

        clearChannels(shape);
        if (body.hasShape("Field")) clearChannels(*body.mutableShape("Field"));
        body.setLayout(layout.release());
        shape.updateLayout(body.layout());
        if (body.hasShape("Field")) body.mutableShape("Field")->updateLayout(body.layout());
        zt::block3_array<zt::vec3f>& positionBlocks = shape.positions()->blocks();
        for (size_t s = 0; s < counts.size(); ++s) positionBlocks.typedBlock(0, int64_t(s))->resize(counts[s]);
        // Ids not given count from 0 in stored order as the channels follow.
        for (int c = 0; c < shape.channelCount(); ++c)
            if (auto* ids = dynamic_cast<Cb::ParticleChannelId64*>(shape.mutableChannel(c).mutableGet()))
                ids->setNextId(0);
        shape.syncChannels();

        std::copy_n(order, n, kept.data());
        fill(shape, kPosition, Cb::kTypeVec3f, points.data(), kept);
        for (const ChannelRows& c : given) fill(shape, c.name, c.code, c.rows.data(), kept);
        shape.setModifiedFlags(0);
    }
    handle.particleOrder() = std::move(kept);
    return orderArray;
}

void setParticleChannel(BodyHandle& handle, const std::string& name, const py::array& values) {
    LibraryLock lock;
    Cb::Body& body = handle.mutableBody();
    if (!handle.particleOrder())
        throw ztx::base(zt::cat("Body '", body.name(), "': set its particles with set_particles first"));
    const std::vector<int64_t>& order = *handle.particleOrder();
    Cb::ParticleShape& shape = *body.mutableParticleShape();
    const ChannelRows c = prepare(shape, name, values, int64_t(order.size()));
    GilRelease released;
    if (!findChannel(shape, c.name)) createChannel(shape, c.code, c.name);
    fill(shape, c.name, c.code, c.rows.data(), order);
}

}  // namespace ztpy
