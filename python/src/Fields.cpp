#include "Fields.h"

#include <algorithm>
#include <memory>

#include "Common.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/tile3.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace ztpy {

namespace {

const Cb::Shape& fieldShapeOf(const Cb::Body& body) {
    if (!body.hasShape("Field")) throw ztx::base(zt::cat("Body '", body.name(), "' has no Field shape"));
    return *body.shape("Field");
}

// The fine slots that hold a tile, in list order.
std::vector<int64_t> tileSlots(const zt::tile_layout3& layout) {
    std::vector<int64_t> slots;
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        if (layout.fineTile(s)) slots.push_back(s);
    return slots;
}

template <class T>
void checkSized(const zt::field3<T>& field, const zt::tile_layout3& layout, const std::string& name) {
    const int64_t expected = layout.fineCount() * int64_t(layout.voxelsPerTile());
    if (field.fineValues().count() != expected)
        throw ztx::base(zt::cat("Field channel '", name, "' holds ", field.fineValues().count(),
                                " values where its layout's ", layout.fineCount(), " tiles of ", layout.tileSize(),
                                "^3 voxels hold ", expected));
}

// Copies component `c` of `components` from each listed slot's block.
template <class T>
void copyTiles(const zt::field3<T>& field, const std::vector<int64_t>& slots, int64_t perTile, int c, int components,
               T* out) {
    const T* values = field.fineValues().data();
    for (size_t t = 0; t < slots.size(); ++t) {
        const T* from = values + slots[t] * perTile;
        T* to = out + int64_t(t) * perTile * components + c;
        if (components == 1)
            std::copy_n(from, perTile, to);
        else
            for (int64_t v = 0; v < perTile; ++v) to[v * components] = from[v];
    }
}

// The values array: stored x fastest, then y, then z, viewed as [t, x, y, z].
template <class T>
py::array valuesArray(const std::vector<const zt::field3<T>*>& fields, const zt::tile_layout3& layout,
                      const std::vector<int64_t>& slots, const std::string& name) {
    const int components = int(fields.size());
    {
        GilRelease released;
        // Loading happens here, on the first access to the values.
        for (const auto* field : fields) checkSized(*field, layout, name);
    }
    const py::ssize_t n = py::ssize_t(layout.tileSize());
    const int64_t perTile = int64_t(layout.voxelsPerTile());
    std::vector<py::ssize_t> shape{py::ssize_t(slots.size()), n, n, n};
    if (components > 1) shape.push_back(components);
    py::array_t<T> stored(shape);
    T* out = stored.mutable_data();
    {
        GilRelease released;
        for (int c = 0; c < components; ++c) copyTiles(*fields[size_t(c)], slots, perTile, c, components, out);
    }
    py::list axes;
    for (const int a : {0, 3, 2, 1, 4})
        if (a < int(shape.size())) axes.append(a);
    return stored.attr("transpose")(py::tuple(axes));
}

template <class T>
py::object number(const T& v) {
    if constexpr (std::is_floating_point_v<T>)
        return py::float_(v);
    else
        return py::int_(v);
}

template <class C, class T>
bool readScalar(const Cb::FieldChannelBase& channel, const zt::tile_layout3& layout, const std::vector<int64_t>& slots,
                FieldData& out) {
    const auto* typed = dynamic_cast<const C*>(&channel);
    if (!typed) return false;
    const zt::field3<T>* field = nullptr;
    {
        GilRelease released;
        field = &typed->field();
    }
    out.values = valuesArray<T>({field}, layout, slots, out.name);
    out.background = number(field->background());
    out.sampleSet = field->sampleSet();
    return true;
}

bool readVector(const Cb::FieldChannelBase& channel, const zt::tile_layout3& layout, const std::vector<int64_t>& slots,
                FieldData& out) {
    const auto* typed = dynamic_cast<const Cb::FieldChannel3f*>(&channel);
    if (!typed) return false;
    std::vector<const zt::field3<float>*> fields;
    {
        GilRelease released;
        for (int c = 0; c < 3; ++c) fields.push_back(&typed->field(c));
    }
    out.values = valuesArray<float>(fields, layout, slots, out.name);
    out.background = py::make_tuple(fields[0]->background(), fields[1]->background(), fields[2]->background());
    out.sampleSet = fields[0]->sampleSet();
    return true;
}

}  // namespace

std::vector<ChannelEntry> fieldChannels(const BodyHandle& handle) {
    LibraryLock lock;
    return channelEntries(fieldShapeOf(handle.body()));
}

FieldData readFieldChannel(const BodyHandle& handle, const std::string& name) {
    LibraryLock lock;
    const Cb::Body& body = handle.body();
    const Cb::Shape& shape = fieldShapeOf(body);
    const int index = shape.indexOf(name);
    if (index < 0 || shape.channel(index)->name() != name)
        throw py::key_error(zt::cat("Body '", body.name(), "' has no field channel '", name, "'"));
    const auto* channel = dynamic_cast<const Cb::FieldChannelBase*>(shape.channel(index).get());
    if (!channel) throwUnsupported(*shape.channel(index));

    // Values still in the file are loaded into a copy, freed on return, so
    // reading a channel leaves no second copy in the body.
    std::unique_ptr<Cb::Channel> copy;
    if (!channel->loaded()) {
        copy.reset(channel->clone());
        channel = static_cast<const Cb::FieldChannelBase*>(copy.get());
    }
    const zt::tile_layout3& layout = body.layout();
    const std::vector<int64_t> slots = tileSlots(layout);
    FieldData out;
    out.name = name;
    out.type = channel->typeName();
    py::array_t<int32_t> tiles({py::ssize_t(slots.size()), py::ssize_t(3)});
    for (size_t t = 0; t < slots.size(); ++t)
        for (int a = 0; a < 3; ++a) tiles.mutable_at(t, a) = layout.fineTile(slots[t])->coord()[a];
    out.tiles = tiles;
    if (!readVector(*channel, layout, slots, out) &&
        !readScalar<Cb::FieldChannel1f, float>(*channel, layout, slots, out) &&
        !readScalar<Cb::FieldChannel1i, int>(*channel, layout, slots, out) &&
        !readScalar<Cb::FieldChannel1i64, int64_t>(*channel, layout, slots, out))
        throwUnsupported(*channel);
    return out;
}

}  // namespace ztpy
