#pragma once
// ZTP caches of any version from 1 to 16, written byte by byte as each
// version lays them out (not by the library's writer, which writes 16 only):
// one body with a value section, a layout of small tiles, a "Particle" shape
// (vec3f positions and 64-bit ids, one block per fine tile, some blocks
// compressed), a "Field" shape (one float field) and a "Point" shape (one
// buffer channel). The statistics stored in channel headers (version 12 on)
// are deliberately not those of the data, so output can tell the two apart.
// zlib is used only from kMinCompressSize bytes on: a block to be stored
// compressed needs at least 22 particles.

#include <cstdint>
#include <string>
#include <vector>

#include "ByteBuilder.h"
#include "zt/compression_buffer.h"
#include "zt/vec.h"

namespace infotest {

using testsupport::ByteBuilder;

struct CacheBlock {
    zt::vec3i tile;
    std::vector<zt::vec3f> positions;
    bool compress = false;
};

struct HandMadeCache {
    int32_t version = 16;
    std::string name = "Splash";
    std::string type = "Particle-Liquid";
    double time = 1.5;
    // Tile size 2 at voxel size 0.5: a tile spans 1 unit.
    std::vector<CacheBlock> blocks;
    bool compressPoints = false;
    // What the channel headers claim (version 12 on).
    uint64_t headerCount = 999;
    zt::vec3f headerMin{{-7, -7, -7}}, headerMax{{7, 7, 7}}, headerMean{{0.25f, 0.25f, 0.25f}};

    static constexpr uint32_t kTileSize = 2;
    static constexpr float kVoxelSize = 0.5f;
    static constexpr int64_t kFirstId = 1000000000001;  // past float precision

    // Ids count from kFirstId over the blocks' particles in order.
    std::vector<int64_t> ids() const {
        std::vector<int64_t> all;
        for (const CacheBlock& b : blocks)
            for (size_t i = 0; i < b.positions.size(); ++i) all.push_back(kFirstId + int64_t(all.size()));
        return all;
    }
    // Voxel values of the field: fine tiles x 8 voxels, 0.5 * index.
    std::vector<float> fieldValues() const {
        std::vector<float> v(blocks.size() * kTileSize * kTileSize * kTileSize);
        for (size_t i = 0; i < v.size(); ++i) v[i] = 0.5f * float(i) - 3.0f;
        return v;
    }
    // Thirty points: enough bytes for zlib to be used at all (kMinCompressSize).
    std::vector<zt::vec3f> points() const {
        std::vector<zt::vec3f> v;
        for (int i = 0; i < 30; ++i) v.push_back({{float(i % 7) - 3.0f, 0.25f * float(i), -float(i * i)}});
        return v;
    }

    std::vector<uint8_t> bytes() const;

private:
    bool legacy() const { return version < 14; }
    void channelHeader(ByteBuilder& b, const std::string& type, const std::string& name) const;
    template <class T>
    void blockRecord(ByteBuilder& b, const std::vector<std::vector<T>>& perBlock) const;
    template <class T>
    static void legacyArray(ByteBuilder& b, const std::vector<T>& values, bool compress);
    template <class T>
    static void plainArray(ByteBuilder& b, const std::vector<T>& values);
};

template <class T>
void HandMadeCache::plainArray(ByteBuilder& b, const std::vector<T>& values) {
    b.i64(int64_t(values.size())).raw(values.data(), values.size() * sizeof(T));
}

// u32 byte size; when not 0 a u32 flag, then (compressed) a u32 size and the
// zlib stream, or the raw bytes.
template <class T>
void HandMadeCache::legacyArray(ByteBuilder& b, const std::vector<T>& values, bool compress) {
    const size_t size = values.size() * sizeof(T);
    b.u32(uint32_t(size));
    if (size == 0) return;
    if (compress) {
        const zt::array1<uint8_t> packed = zt::compressBuffer(values.data(), size);
        b.u32(1).u32(uint32_t(packed.count())).raw(packed.data(), size_t(packed.count()));
    } else {
        b.u32(0).raw(values.data(), size);
    }
}

inline void HandMadeCache::channelHeader(ByteBuilder& b, const std::string& type, const std::string& name) const {
    b.str(type).str(name);
    if (version >= 12) b.u64(headerCount).raw(&headerMin, 12).raw(&headerMax, 12).raw(&headerMean, 12);
}

template <class T>
void HandMadeCache::blockRecord(ByteBuilder& b, const std::vector<std::vector<T>>& perBlock) const {
    const size_t n = perBlock.size();
    if (!legacy()) {
        // Counts, tile table and block table (marked arrays stored plain),
        // end position, data region.
        std::vector<uint32_t> tiles;
        std::vector<uint64_t> table;
        ByteBuilder data;
        for (size_t g = 0; g < n; ++g) {
            for (int a = 0; a < 3; ++a) tiles.push_back(uint32_t(blocks[g].tile[a]));
            const size_t size = perBlock[g].size() * sizeof(T);
            const uint64_t offset = data.size();
            if (blocks[g].compress) {
                const zt::array1<uint8_t> packed = zt::compressBuffer(perBlock[g].data(), size);
                data.raw(packed.data(), size_t(packed.count()));
                table.insert(table.end(), {offset, uint64_t(packed.count()), perBlock[g].size(), 0});
            } else {
                data.raw(perBlock[g].data(), size);
                table.insert(table.end(), {offset, uint64_t(size), ~uint64_t(0), 0});
            }
        }
        b.i32(int32_t(n)).i32(int32_t(n));
        b.i64(int64_t(tiles.size())).u8(0);
        plainArray(b, tiles);
        b.i64(int64_t(table.size())).u8(0);
        plainArray(b, table);
        b.i64(int64_t(b.size() + 8 + 8 + data.size()));
        b.i64(int64_t(data.size())).bytes(data.data());
        return;
    }
    // List counts, offset tables, end position, then the blocks themselves.
    ByteBuilder data;
    std::vector<int64_t> relative;
    for (size_t g = 0; g < n; ++g) {
        relative.push_back(int64_t(data.size()));
        data.i32(blocks[g].tile[0]).i32(blocks[g].tile[1]).i32(blocks[g].tile[2]);
        legacyArray(data, perBlock[g], blocks[g].compress);
    }
    // List-0 count, its legacy offset array, (13: list-1 count and array,) end.
    const int64_t tableBytes = 4 + 4 + (n ? 4 + 8 * int64_t(n) : 0) + (version == 13 ? 4 + 16 : 0) + 8;
    const int64_t start = int64_t(b.size()) + tableBytes;
    std::vector<int64_t> offsets;
    for (int64_t r : relative) offsets.push_back(start + r);
    b.i32(int32_t(n));
    if (version == 13) b.i32(1);
    legacyArray(b, offsets, false);
    if (version == 13) legacyArray(b, std::vector<int64_t>{0}, false);
    b.i64(start + int64_t(data.size()));
    b.bytes(data.data());
}

inline std::vector<uint8_t> HandMadeCache::bytes() const {
    ByteBuilder b;
    b.u32(0xABBAABB1u).i32(version).f64(time).i32(1);
    b.str(name);
    if (version >= 9) b.str(type);
    if (version >= 16) b.str("made by hand");
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f}) b.f32(f);

    // One section: a constant number, a vector with an expression, a string.
    b.i32(1).str("Look").i32(3);
    b.str("value1f").str("Gravity Scale").str("0.25");
    b.str("value3f").str("Wind").str("1").str("2 * 3").str("-0.5");
    b.str("value1s").str("Note").str("say \"hi\"\tthere");

    // Layout: cell size, fine count, coarse length, tile size, fine tiles,
    // coarse tiles (only the empty slot 0; the reader adds the shell).
    std::vector<zt::vec3i> fine;
    for (const CacheBlock& block : blocks) fine.push_back(block.tile);
    b.f32(kVoxelSize).i32(int32_t(fine.size())).i32(1).i32(int32_t(kTileSize));
    const std::vector<zt::vec3i> coarse{{{0, 0, 0}}};
    if (legacy()) {
        legacyArray(b, fine, false);
        legacyArray(b, coarse, false);
    } else {
        plainArray(b, fine);
        plainArray(b, coarse);
    }

    b.i32(3);
    // Field: one float channel over the fine voxels.
    b.str("Field").i32(1);
    channelHeader(b, "field::float", "density");
    if (version >= 8) b.i32(0).i32(0).i32(0).i32(1).i32(0);
    if (version >= 11) b.i32(0).i32(0).f32(0.0f);
    const std::vector<float> field = fieldValues();
    const std::vector<float> coarseValues{-1.0f};
    const int64_t endAt = int64_t(b.size()) + 4 + 4 + 8 + 1 + 8 + int64_t(field.size() * 4) + 1 + 8 + 4;
    b.f32(-1.0f).i32(0).i64(endAt);
    b.u8(0);
    plainArray(b, field);
    b.u8(0);
    plainArray(b, coarseValues);

    // Particle: positions and ids, block by block.
    std::vector<std::vector<zt::vec3f>> positions;
    std::vector<std::vector<int64_t>> idBlocks;
    int64_t id = kFirstId;
    for (const CacheBlock& block : blocks) {
        positions.push_back(block.positions);
        idBlocks.emplace_back();
        for (size_t i = 0; i < block.positions.size(); ++i) idBlocks.back().push_back(id++);
    }
    b.str("Particle").i32(2);
    channelHeader(b, "particle::vec3f", "position");
    b.f32(0).f32(0).f32(0);
    blockRecord(b, positions);
    channelHeader(b, "particle::id64", "id64");
    b.i64(0);
    blockRecord(b, idBlocks);
    if (version >= 15) b.i64(id);

    // Point: one buffer channel.
    b.str("Point").i32(1);
    channelHeader(b, "buffer::vec3f", "position");
    b.f32(0).f32(0).f32(0);
    const std::vector<zt::vec3f> pointValues = points();
    if (legacy()) {
        legacyArray(b, pointValues, compressPoints);
    } else {
        b.u8(0);  // the chunked array stored plain
        plainArray(b, pointValues);
    }
    return b.data();
}

}  // namespace infotest
