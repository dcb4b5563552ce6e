// Block array records in files: the exact version 16 bytes, round trips
// through single-block and whole-array loading, deferred state, legacy
// layouts and hostile tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "BlockTestSupport.h"
#include "ByteBuilder.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "zt/compression_buffer.h"

namespace {

using blocktest::BlockSpec;
using blocktest::makeArray;
using blocktest::readRecord;
using blocktest::ScopedThreads;
using blocktest::valuesOf;
using blocktest::writeRecord;
using testsupport::ByteBuilder;
using testsupport::messageOf;
using testsupport::TempDir;
using zt::vec3f;
using zt::vec3i;

constexpr uint64_t kRaw = ~uint64_t(0);

TEST(Block3Record, ExactBytesOfASmallRawRecord) {
    TempDir dir;
    const std::string path = dir.file("record.ztp");
    auto a = makeArray<int>({{{{1, 2, 3}}, {7, 8}}}, {{{{-1, 0, 0}}, {}}});
    const int64_t end = writeRecord(*a, path, false, {0xEE, 0xEE, 0xEE});
    ByteBuilder expected;
    expected.u8(0xEE).u8(0xEE).u8(0xEE);
    expected.i32(2).i32(1);
    expected.i64(6).u8(0).i64(6).u32(1).u32(2).u32(3).u32(0xFFFFFFFF).u32(0).u32(0);
    expected.i64(8).u8(0).i64(8).u64(0).u64(8).u64(kRaw).u64(0).u64(8).u64(0).u64(kRaw).u64(0);
    expected.i64(157);
    expected.i64(8).i32(7).i32(8);
    EXPECT_EQ(testsupport::toHex(testsupport::readBytes(path)), testsupport::toHex(expected.data()));
    EXPECT_EQ(end, 157);
}

// Element values that differ from block to block and compress well.
template <class T>
T valueAt(int block, int element) {
    const int v = block * 1000 + element % 97;
    if constexpr (zt::is_vec<T>::value)
        return T{{typename T::value_type(v), typename T::value_type(-v), typename T::value_type(element % 5)}};
    else
        return T(v % 100);
}

template <class T>
std::unique_ptr<zt::block3_array<T>> sampleArray() {
    std::vector<BlockSpec<T>> fine;
    const int sizes[] = {0, 1, 300, 5000};
    for (int b = 0; b < 4; ++b) {
        BlockSpec<T> spec{{{b, -b, 2}}, {}};
        for (int e = 0; e < sizes[b]; ++e) spec.values.push_back(valueAt<T>(b, e));
        fine.push_back(spec);
    }
    BlockSpec<T> coarse{{{9, 9, -9}}, {}};
    for (int e = 0; e < 70; ++e) coarse.values.push_back(valueAt<T>(4, e));
    return makeArray<T>(fine, {coarse}, valueAt<T>(7, 3));
}

template <class T>
class Block3RoundTrip : public ::testing::Test {};
using ElementTypes = ::testing::Types<int8_t, int, float, vec3i, vec3f, int64_t>;
TYPED_TEST_SUITE(Block3RoundTrip, ElementTypes);

template <class T>
void expectSame(zt::block3_array<T>& original, zt::block3_array<T>& back) {
    ASSERT_EQ(back.blockCount(), original.blockCount());
    ASSERT_EQ(back.listCount(0), original.listCount(0));
    for (int64_t g = 0; g < original.blockCount(); ++g) {
        EXPECT_EQ(valuesOf(back, g), valuesOf(original, g)) << "block " << g;
        EXPECT_EQ(back.block(g)->coord(), original.block(g)->coord());
        EXPECT_EQ(back.typedBlock(g)->defaultValue(), back.defaultValue());
    }
}

TYPED_TEST(Block3RoundTrip, SingleBlocksAndWholeArraysWithOneAndTwoThreads) {
    using T = TypeParam;
    TempDir dir;
    auto original = sampleArray<T>();
    for (bool compress : {false, true}) {
        const std::string path = dir.file(compress ? "packed.ztp" : "raw.ztp");
        const int64_t end = writeRecord(*original, path, compress, {1, 2, 3, 4, 5});
        for (int threads : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << "compress " << compress << ", threads " << threads);
            ScopedThreads scope(threads);
            zt::block3_array<T> whole(original->defaultValue());
            EXPECT_EQ(readRecord(whole, path, 16, 5), end);
            EXPECT_TRUE(whole.loadPending());
            EXPECT_EQ(whole.fileName(), path);
            whole.ensureLoaded();
            EXPECT_FALSE(whole.loadPending());
            expectSame(*original, whole);

            zt::block3_array<T> single(original->defaultValue());
            readRecord(single, path, 15, 5);
            for (int64_t g = original->blockCount() - 1; g >= 0; --g)
                EXPECT_EQ(valuesOf(single, g), valuesOf(*original, g));
            EXPECT_TRUE(single.loadPending());
            expectSame(*original, single);
        }
    }
}

TEST(Block3Deferred, SmallBatchesLoadEveryBlockOnce) {
    TempDir dir;
    const std::string path = dir.file("batches.ztp");
    auto original = sampleArray<vec3f>();
    writeRecord(*original, path, true);
    for (uint64_t batch : {uint64_t(1), uint64_t(300), uint64_t(5000)}) {
        zt::block3_array<vec3f> a;
        a.setLoadBatchBytes(batch);
        readRecord(a, path, 16);
        a.block(0, 2);  // one block already in memory stays as it is
        a.ensureLoaded();
        expectSame(*original, a);
    }
}

TEST(Block3Record, CompressedBlocksAreSmallerAndRawOnesAreNot) {
    TempDir dir;
    auto a = sampleArray<float>();
    const int64_t raw = writeRecord(*a, dir.file("raw.ztp"), false);
    const int64_t packed = writeRecord(*a, dir.file("packed.ztp"), true);
    EXPECT_LT(packed, raw);
    const zt::compression_buffer rawBuffer = a->compress(false, 2);
    for (int64_t g = 0; g < a->blockCount(); ++g)
        EXPECT_EQ(rawBuffer.entry(g, zt::kPieceRawCount), kRaw);
    const zt::compression_buffer packedBuffer = a->compress(true, 2);
    EXPECT_EQ(packedBuffer.entry(3, zt::kPieceRawCount), 5000u);
    EXPECT_EQ(packedBuffer.entry(1, zt::kPieceRawCount), kRaw);  // 4 bytes stay raw
}

TEST(Block3Deferred, PendingDataStaysOnDiskUntilLoadingIsAllowed) {
    TempDir dir;
    const std::string path = dir.file("deferred.ztp");
    auto original = sampleArray<vec3f>();
    writeRecord(*original, path, true);
    zt::block3_array<vec3f> a;
    readRecord(a, path, 16);
    for (int64_t g = 0; g < a.blockCount(); ++g) EXPECT_EQ(a.residentBlock(g), nullptr);
    a.setLoadingAllowed(false);
    a.ensureLoaded();
    EXPECT_TRUE(a.loadPending());
    for (int64_t g = 0; g < a.blockCount(); ++g) EXPECT_EQ(a.residentBlock(g), nullptr);
    // A single block still loads on first touch, and only that one.
    EXPECT_EQ(valuesOf(a, 2), valuesOf(*original, 2));
    EXPECT_NE(a.residentBlock(2), nullptr);
    EXPECT_EQ(a.residentBlock(3), nullptr);
    // A clone keeps the deferred data and may load it.
    std::unique_ptr<zt::block3_array_base> copy = a.clone();
    EXPECT_TRUE(copy->loadingAllowed());
    copy->ensureLoaded();
    EXPECT_EQ(copy->elementCount(), original->elementCount());
    a.setLoadingAllowed(true);
    a.ensureLoaded();
    EXPECT_FALSE(a.loadPending());
    expectSame(*original, a);
}

TEST(Block3Deferred, RestructuringLoadsEvenWhenLoadingIsNotAllowed) {
    TempDir dir;
    const std::string path = dir.file("restructure.ztp");
    auto original = sampleArray<int>();
    writeRecord(*original, path, false);
    zt::block3_array<int> a;
    readRecord(a, path, 16);
    a.setLoadingAllowed(false);
    a.block(0, 3);
    // Compaction would otherwise drop the blocks still in the file.
    a.compactBlocks();
    EXPECT_FALSE(a.loadPending());
    expectSame(*original, a);
    // A mirror of a master still in the file is refused rather than emptied.
    zt::block3_array<int> master;
    readRecord(master, path, 16);
    zt::block3_array<int> follower;
    EXPECT_EQ(messageOf([&] { follower.resizeLike(master); }),
              "Cannot mirror particle blocks that are still in the file");
    master.ensureLoaded();
    follower.resizeLike(master);
    EXPECT_EQ(follower.elementCount(), original->elementCount());
}

TEST(Block3Deferred, RemovedFileIsReportedWithTheSystemText) {
    TempDir dir;
    const std::string path = dir.file("gone.ztp");
    auto original = sampleArray<int>();
    writeRecord(*original, path, true);
    zt::block3_array<int> a;
    readRecord(a, path, 16);
    std::filesystem::remove(path);
    const std::string expected = "read_ztp(" + path + ") failed: Cannot open file: No such file or directory";
    EXPECT_EQ(messageOf([&] { a.ensureLoaded(); }), expected);
    EXPECT_EQ(messageOf([&] { a.block(0, 1); }), expected);
    EXPECT_TRUE(a.loadPending());
    EXPECT_EQ(a.residentBlock(1), nullptr);
}

TEST(Block3Deferred, ShortenedFileAndDamagedBlocksFailWithoutLoading) {
    TempDir dir;
    const std::string path = dir.file("cut.ztp");
    auto original = sampleArray<int>();
    const int64_t end = writeRecord(*original, path, true);
    zt::block3_array<int> a;
    readRecord(a, path, 16);
    std::filesystem::resize_file(path, uint64_t(end - 10));
    EXPECT_EQ(messageOf([&] { a.ensureLoaded(); }),
              "read_ztp(" + path + ") failed: the file is shorter than when it was read");

    // Damage the compressed bytes of block 4 (the coarse block, last in the region).
    writeRecord(*original, path, true);
    std::vector<uint8_t> bytes = testsupport::readBytes(path);
    for (size_t i = bytes.size() - 40; i < bytes.size() - 4; ++i) bytes[i] ^= 0x5A;
    testsupport::writeFile(path, bytes);
    for (bool whole : {true, false}) {
        zt::block3_array<int> b;
        readRecord(b, path, 16);
        const std::string message = messageOf([&] {
            if (whole)
                b.ensureLoaded();
            else
                b.block(1, 1);
        });
        EXPECT_EQ(message.rfind("ZTP Decompression", 0), 0u) << message;
        EXPECT_EQ(b.residentBlock(4), nullptr);
        EXPECT_TRUE(b.loadPending());
    }
}

// A version 14+ record for an int array, assembled field by field.
struct Record {
    int32_t total = 1;
    int32_t fine = 1;
    std::vector<uint32_t> tiles{0, 0, 0};
    std::vector<uint64_t> table{0, 8, kRaw, 0};
    std::vector<uint8_t> data{1, 0, 0, 0, 2, 0, 0, 0};
    int64_t endDelta = 0;      // added to the true end position
    int64_t dataCountDelta = 0;

    std::vector<uint8_t> bytes() const {
        ByteBuilder b;
        b.i32(total).i32(fine);
        b.i64(int64_t(tiles.size())).u8(0).i64(int64_t(tiles.size()));
        for (uint32_t t : tiles) b.u32(t);
        b.i64(int64_t(table.size())).u8(0).i64(int64_t(table.size()));
        for (uint64_t t : table) b.u64(t);
        const int64_t end = int64_t(b.size()) + 8 + 8 + int64_t(data.size());
        b.i64(end + endDelta).i64(int64_t(data.size()) + dataCountDelta).bytes(data);
        return b.data();
    }
};

std::string readFailure(const Record& record, zt::block3_array<int>& array) {
    TempDir dir;
    const std::string path = dir.file("hostile.ztp");
    testsupport::writeFile(path, record.bytes());
    return messageOf([&] { readRecord(array, path, 16); });
}

TEST(Block3HostileTables, EveryBadEntryFailsBeforeAnyBlockIsRead) {
    struct Case {
        const char* name;
        Record record;
        std::string detail;
    };
    std::vector<Case> cases;
    auto add = [&cases](const char* name, const std::string& detail, auto change) {
        Record r;
        change(r);
        cases.push_back({name, r, detail});
    };
    add("valid", "", [](Record&) {});
    add("past the data", "block 0 lies outside the data region", [](Record& r) { r.table = {4, 8, kRaw, 0}; });
    add("offset wraps", "block 0 lies outside the data region",
        [](Record& r) { r.table = {~uint64_t(0) - 3, 8, kRaw, 0}; });
    add("partial element", "block 0 holds a partial element", [](Record& r) { r.table = {0, 7, kRaw, 0}; });
    add("inflates too far", "block 0 announces more elements than its bytes can hold",
        [](Record& r) { r.table = {0, 8, 100000, 0}; });
    add("too many elements", "block 0 announces more elements than its bytes can hold",
        [](Record& r) { r.table = {0, 8, uint64_t(1) << 40, 0}; });
    add("short tile table", "2 tile coordinates for 1 blocks", [](Record& r) { r.tiles = {0, 0}; });
    add("short block table", "3 table values for 1 blocks", [](Record& r) { r.table = {0, 8, kRaw}; });
    add("negative total", "list counts 0 of -1 blocks", [](Record& r) {
        r.total = -1;
        r.fine = 0;
    });
    add("list 0 beyond total", "list counts 2 of 1 blocks", [](Record& r) { r.fine = 2; });
    add("end position off", "the data region of 8 bytes at 94 does not end at 111 inside the file",
        [](Record& r) { r.endDelta = 1; });
    add("data beyond the file", "the data region of 9 bytes at 94 does not end at 110 inside the file",
        [](Record& r) { r.dataCountDelta = 1; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zt::block3_array<int> a;
        const std::string message = readFailure(c.record, a);
        if (c.detail.empty()) {
            EXPECT_EQ(message, "(no failure)");
            continue;
        }
        EXPECT_NE(message.find("Corrupt particle block table in /"), std::string::npos) << message;
        EXPECT_NE(message.find("hostile.ztp: " + c.detail), std::string::npos) << message;
        EXPECT_EQ(a.blockCount(), 0);
        EXPECT_FALSE(a.loadPending());
    }
}

TEST(Block3HostileTables, TwoBlocksSharingBytesStillLoadWithinTheRegion) {
    // Overlapping entries are odd but harmless: each reads inside the region.
    Record r;
    r.total = 2;
    r.tiles = {0, 0, 0, 1, 0, 0};
    r.table = {0, 8, kRaw, 0, 4, 4, kRaw, 0};
    TempDir dir;
    const std::string path = dir.file("overlap.ztp");
    testsupport::writeFile(path, r.bytes());
    zt::block3_array<int> a;
    readRecord(a, path, 16);
    a.ensureLoaded();
    EXPECT_EQ(valuesOf(a, 0), (std::vector<int>{1, 2}));
    EXPECT_EQ(valuesOf(a, 1), (std::vector<int>{2}));
    EXPECT_EQ(a.listCount(1), 2);
}

// ----- files before version 14 -----

// A legacy array: u32 byte size, u32 flag, then raw bytes or u32 size + zlib.
void legacyArray(ByteBuilder& b, const void* data, size_t size, bool compress) {
    b.u32(uint32_t(size));
    if (size == 0) return;
    if (compress) {
        const zt::array1<uint8_t> packed = zt::compressBuffer(data, size);
        ASSERT_FALSE(packed.empty()) << "needs 256 bytes or more";
        b.u32(1).u32(uint32_t(packed.count())).raw(packed.data(), size_t(packed.count()));
    } else {
        b.u32(0).raw(data, size);
    }
}

struct LegacyBlock {
    vec3i tile;
    std::vector<vec3f> values;
    bool compress;
};

// A record of `version` after `prefix` bytes: list counts, offset tables
// (compressed when asked), end position, blocks.
std::vector<uint8_t> legacyRecord(int32_t version, size_t prefix, const std::vector<LegacyBlock>& fine,
                                  const std::vector<LegacyBlock>& coarse, bool compressOffsets) {
    // Block bytes first, to know their sizes.
    std::vector<std::vector<uint8_t>> blocks;
    for (const auto* list : {&fine, &coarse})
        for (const LegacyBlock& block : *list) {
            ByteBuilder b;
            b.i32(block.tile[0]).i32(block.tile[1]).i32(block.tile[2]);
            legacyArray(b, block.values.data(), block.values.size() * sizeof(vec3f), block.compress);
            blocks.push_back(b.data());
        }
    auto header = [&](const std::vector<int64_t>& fineOffsets, const std::vector<int64_t>& coarseOffsets,
                      int64_t end) {
        ByteBuilder b;
        for (size_t i = 0; i < prefix; ++i) b.u8(0xAB);
        b.i32(int32_t(fine.size()));
        if (version == 13) b.i32(int32_t(coarse.size() + 1));
        legacyArray(b, fineOffsets.data(), fineOffsets.size() * 8, compressOffsets);
        if (version == 13) legacyArray(b, coarseOffsets.data(), coarseOffsets.size() * 8, false);
        b.i64(end);
        return b;
    };
    // A compressed offset table's size depends on the offsets: repeat until
    // the header's size stays put.
    std::vector<int64_t> fineOffsets(fine.size(), 0), coarseOffsets(coarse.size() + 1, 0);
    size_t headerSize = 0;
    int64_t position = 0;
    for (int round = 0; round < 10; ++round) {
        const size_t size = header(fineOffsets, coarseOffsets, position).size();
        if (size == headerSize) break;
        headerSize = size;
        position = int64_t(size);
        size_t next = 0;
        for (int64_t& o : fineOffsets) {
            o = position;
            position += int64_t(blocks[next++].size());
        }
        for (size_t s = 1; s < coarseOffsets.size(); ++s) {
            coarseOffsets[s] = position;
            position += int64_t(blocks[next++].size());
        }
    }
    ByteBuilder b = header(fineOffsets, coarseOffsets, position);
    for (const auto& block : blocks) b.bytes(block);
    return b.data();
}

std::vector<vec3f> ramp(int n, float base) {
    std::vector<vec3f> v;
    for (int i = 0; i < n; ++i) v.push_back({{base + float(i), float(i % 7), -base}});
    return v;
}

TEST(Block3Legacy, Version13WithBothListsRawAndCompressed) {
    const std::vector<LegacyBlock> fine = {{{{0, 0, 0}}, ramp(10, 1), false}, {{{1, 0, 0}}, ramp(40, 2), true}};
    const std::vector<LegacyBlock> coarse = {{{{0, 1, -1}}, ramp(1, 3), false}};
    TempDir dir;
    const std::string path = dir.file("v13.ztp");
    const std::vector<uint8_t> bytes = legacyRecord(13, 7, fine, coarse, false);
    testsupport::writeFile(path, bytes);
    for (int threads : {1, 2}) {
        ScopedThreads scope(threads);
        for (bool whole : {true, false}) {
            zt::block3_array<vec3f> a(vec3f{{9, 9, 9}});
            EXPECT_EQ(readRecord(a, path, 13, 7), int64_t(bytes.size()));
            ASSERT_EQ(a.blockCount(), 3);
            EXPECT_EQ(a.listCount(1), 2);
            if (whole) a.ensureLoaded();
            EXPECT_EQ(valuesOf(a, 0), fine[0].values);
            EXPECT_EQ(valuesOf(a, 1), fine[1].values);
            EXPECT_EQ(valuesOf(a, 2), coarse[0].values);
            EXPECT_EQ(a.block(2)->coord(), (vec3i{{0, 1, -1}}));
            EXPECT_EQ(a.block(1)->capacity(), a.block(1)->count());
            EXPECT_EQ(a.typedBlock(1)->defaultValue(), (vec3f{{9, 9, 9}}));
            EXPECT_EQ(a.loadPending(), !whole);
            a.ensureLoaded();
            EXPECT_FALSE(a.loadPending());
        }
    }
}

TEST(Block3Legacy, OlderVersionsHaveOnlyList0AndMayCompressTheOffsets) {
    std::vector<LegacyBlock> fine;
    for (int b = 0; b < 40; ++b) fine.push_back({{{b, 0, 0}}, ramp(b % 3, float(b)), false});
    TempDir dir;
    const std::string path = dir.file("v11.ztp");
    testsupport::writeFile(path, legacyRecord(11, 0, fine, {}, true));
    zt::block3_array<vec3f> a;
    readRecord(a, path, 11);
    ASSERT_EQ(a.blockCount(), 40);
    EXPECT_EQ(a.listCount(1), 1);
    a.ensureLoaded();
    for (int b = 0; b < 40; ++b) {
        EXPECT_EQ(valuesOf(a, b), fine[size_t(b)].values);
        EXPECT_EQ(a.block(b)->coord(), (vec3i{{b, 0, 0}}));
    }
}

TEST(Block3Legacy, BadCountsAndOffsetsAreRefused) {
    TempDir dir;
    const std::string path = dir.file("bad.ztp");
    auto failure = [&](const std::vector<uint8_t>& bytes, int32_t version) {
        testsupport::writeFile(path, bytes);
        zt::block3_array<vec3f> a;
        std::string message = messageOf([&] { readRecord(a, path, version); });
        if (message == "(no failure)") return message;
        EXPECT_EQ(a.blockCount(), 0);
        EXPECT_FALSE(a.loadPending());
        const std::string prefix = "Corrupt particle block table in " + path + ": ";
        return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
    };
    const std::vector<LegacyBlock> one = {{{{0, 0, 0}}, ramp(2, 0), false}};
    std::vector<uint8_t> good = legacyRecord(13, 0, one, {}, false);

    std::vector<uint8_t> negative = good;
    negative[0] = 0xFF, negative[1] = 0xFF, negative[2] = 0xFF, negative[3] = 0xFF;
    EXPECT_EQ(failure(negative, 13), "list counts -1 and 1");
    std::vector<uint8_t> noSlot0 = good;
    noSlot0[4] = 0;
    EXPECT_EQ(failure(noSlot0, 13), "list counts 1 and 0");
    std::vector<uint8_t> twoBlocks = good;
    twoBlocks[0] = 2;
    EXPECT_EQ(failure(twoBlocks, 13), "1 and 1 block offsets for lists of 2 and 1 slots");

    // The offset of block 0 (48) sits at bytes 16..23, the end position (92) at 40..47.
    std::vector<uint8_t> farOffset = good;
    farOffset[17] = 0x27;
    EXPECT_EQ(failure(farOffset, 13), "block 0 of list 0 at 10032 lies outside the block data");
    std::vector<uint8_t> farEnd = good;
    farEnd[42] = 1;
    EXPECT_EQ(failure(farEnd, 13), "the blocks end at 65628 outside the file");
    std::vector<uint8_t> earlyEnd = good;
    earlyEnd[40] = 50;  // the block needs 16 bytes before its data
    EXPECT_EQ(failure(earlyEnd, 13), "block 0 of list 0 at 48 lies outside the block data");
    EXPECT_EQ(failure(good, 13), "(no failure)");
}

}  // namespace
