#include "InfoOutput.h"

#include <type_traits>

namespace ztpinfo {

namespace {

template <class V>
void vec(JsonWriter& json, const V& v, int n = 3) {
    json.beginInlineArray();
    for (int c = 0; c < n; ++c) {
        if constexpr (std::is_same_v<typename V::value_type, float>)
            json.value(v[c]);
        else
            json.value(int64_t(v[c]));
    }
    json.endArray();
}

template <class V>
void box(JsonWriter& json, const std::pair<V, V>& b) {
    json.beginObject().key("min");
    vec(json, b.first);
    json.key("max");
    vec(json, b.second);
    json.endObject();
}

void count(JsonWriter& json, std::string_view name, int64_t n) {
    json.key(name);
    n < 0 ? json.null() : json.value(n);
}

void text(JsonWriter& json, std::string_view name, const std::string& value) {
    json.key(name);
    value.empty() ? json.null() : json.value(value);
}

// Float channels' figures are floats; integers' are whole numbers.
void statistic(JsonWriter& json, const Cb::ChannelStatistics& stats, int which) {
    json.beginInlineArray();
    for (int c = 0; c < stats.components; ++c) {
        const double v = which == 0 ? stats.min[size_t(c)] : which == 1 ? stats.max[size_t(c)] : stats.mean(c);
        if (stats.count == 0)
            json.null();
        else if (stats.floating)
            json.value(float(v));
        else
            json.value(v);
    }
    json.endArray();
}

void channel(JsonWriter& json, const ChannelReport& c, const InfoOptions& options) {
    json.beginObject();
    json.member("name", c.name).member("type", c.type);
    count(json, "elements", c.stored.elements);
    count(json, "storedBytes", c.stored.recordBytes);
    json.member("compression", Cb::storedCompressionName(c.stored.compression));
    json.member("blocks", c.stored.blocks);
    json.key("header");
    if (c.hasHeaderStatistics) {
        json.beginObject().member("count", int64_t(c.headerCount)).key("min");
        vec(json, c.headerMin);
        json.key("max");
        vec(json, c.headerMax);
        json.key("mean");
        vec(json, c.headerMean);
        json.endObject();
    } else {
        json.null();
    }
    if (options.stats) {
        json.key("stats");
        if (c.computed) {
            json.beginObject().member("count", c.computed->count).member("notANumber", c.computed->notANumber);
            json.key("min");
            statistic(json, *c.computed, 0);
            json.key("max");
            statistic(json, *c.computed, 1);
            json.key("mean");
            statistic(json, *c.computed, 2);
            json.endObject();
        } else {
            json.null();
        }
    }
    if (options.blocks) {
        json.key("blockList").beginArray();
        for (const BlockReport& b : c.blocks) {
            json.beginInlineObject().member("block", b.index).key("tile");
            vec(json, b.stored.tile);
            json.member("elements", b.stored.elements)
                .member("offset", b.stored.fileOffset)
                .member("storedBytes", b.stored.storedBytes)
                .member("compressed", b.stored.compressed)
                .endObject();
        }
        json.endArray();
        json.member("residentBlocks", c.residentBlocks);
    }
    text(json, "error", c.error);
    json.endObject();
}

void values(JsonWriter& json, const BodyReport& body) {
    json.key("sections").beginArray();
    for (const SectionReport& section : body.sections) {
        json.beginObject().member("name", section.name).key("values").beginArray();
        for (const ValueReport& value : section.values) {
            json.beginObject().member("name", value.name).member("type", value.type);
            json.key("expressions").beginInlineArray();
            for (const std::string& e : value.expressions) json.value(e);
            json.endArray().key("numbers").beginInlineArray();
            for (const auto& n : value.numbers) {
                if (!n)
                    json.null();
                else if (value.floating)
                    json.value(float(*n));
                else
                    json.value(*n);
            }
            json.endArray().endObject();
        }
        json.endArray().endObject();
    }
    json.endArray();
}

void body(JsonWriter& json, const BodyReport& b, const InfoOptions& options) {
    json.beginObject().member("name", b.name).member("signature", b.signature).member("particles", b.particles);
    const LayoutReport& l = b.layout;
    json.key("layout").beginObject();
    json.member("tileSize", int64_t(l.tileSize)).member("voxelSize", l.voxelSize);
    json.member("fineTiles", l.fineTiles).member("coarseTiles", l.coarseTiles);
    json.key("tileBox");
    l.tileBox ? box(json, *l.tileBox) : void(json.null());
    json.key("box");
    l.tileBox ? box(json, worldBox(l)) : void(json.null());
    json.endObject();
    if (options.stats) {
        json.key("particleBox");
        b.particleBox ? box(json, *b.particleBox) : void(json.null());
    }
    if (options.values) values(json, b);
    json.key("shapes").beginArray();
    for (const ShapeReport& shape : b.shapes) {
        json.beginObject().member("name", shape.name).key("channels").beginArray();
        for (const ChannelReport& c : shape.channels) channel(json, c, options);
        json.endArray().endObject();
    }
    json.endArray().endObject();
}

}  // namespace

void writeJson(JsonWriter& json, const FileReport& file, const InfoOptions& options) {
    json.beginObject().member("file", file.path).member("ok", file.whole());
    text(json, "error", file.error);
    json.key("version");
    file.opened ? json.value(file.version) : json.null();
    json.key("time");
    file.opened ? json.value(file.time) : json.null();
    json.key("bodyCount");
    file.opened ? json.value(file.headerBodies) : json.null();
    json.member("bodiesRead", int64_t(file.bodies.size()));
    text(json, "damage", file.damage);
    json.key("bodies").beginArray();
    for (const BodyReport& b : file.bodies) body(json, b, options);
    json.endArray().endObject();
}

}  // namespace ztpinfo
