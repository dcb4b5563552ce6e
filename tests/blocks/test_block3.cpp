// Particle blocks and block arrays: statistics, erasing, numbering,
// mirroring, reblocking and building layouts; their file
// records: exact bytes, round trips, deferred loading, hostile tables and
// the layouts before version 14.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>

#include "ByteBuilder.h"
#include "MessageOf.h"
#include "ScopedThreads.h"
#include "TempPath.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/block3_array.h"
#include "zt/block3_file.h"
#include "zt/block3_tiles.h"
#include "zt/compression_buffer.h"
#include "zt/tile_layout3.h"

namespace {

using namespace testsupport;
using zt::block3;
using zt::vec3f;
using zt::vec3i;

constexpr uint64_t kRaw = ~uint64_t(0);

vec3f all(float s) { return {{s, s, s}}; }

// A block of a list, or with `null` an empty slot.
template <class T>
struct BlockSpec { vec3i tile; std::vector<T> values; bool null = false; };

// List 0 holds `fine`, list 1 (after its empty slot 0) `coarse`.
template <class T>
std::unique_ptr<zt::block3_array<T>> makeArray(const std::vector<BlockSpec<T>>& fine,
                                               const std::vector<BlockSpec<T>>& coarse = {}, const T& def = T()) {
    auto array = std::make_unique<zt::block3_array<T>>(def);
    for (int list = 0; list < 2; ++list)
        for (const BlockSpec<T>& spec : list == 0 ? fine : coarse) {
            std::unique_ptr<zt::block3_base> block;
            if (!spec.null) block = array->newBlock(spec.tile[0], spec.tile[1], spec.tile[2]);
            for (const T& v : spec.values) dynamic_cast<zt::block3<T>&>(*block).append(v);
            array->appendBlock(list, std::move(block));
        }
    return array;
}

template <class T>
std::vector<T> valuesOf(zt::block3_array<T>& array, int64_t g) {
    return std::vector<T>(array.elements(g).begin(), array.elements(g).end());
}

// Minimum, maximum and mean of a block holding `values`.
template <class T>
std::vector<vec3f> statsOf(std::vector<T> values, const T& def = T()) {
    block3<T> b(0, 0, 0, def);
    for (const T& v : values) b.append(v);
    return {b.min3f(), b.max3f(), b.mean3f()};
}

TEST(Block3, StatisticsOfEmptyTinyAndExtremeBlocks) {
    // Minimum, maximum and mean, each replicated over the three components.
    const struct { const char* name; std::vector<vec3f> got; std::vector<float> expected; } cases[] = {
        {"empty", statsOf<int>({}, 7), {0, 0, 0}},
        {"mean truncates", statsOf<int>({-3, 4, 4}), {-3, 4, 1}},
        {"max starts at -INT_MAX", statsOf<int>({INT_MIN}), {float(INT_MIN), -2147483647.0f, float(INT_MIN)}},
        {"sum beyond int", statsOf<int>({2000000000, 2000000000, 2000000000}), {2e9f, 2e9f, 2e9f}},
        {"sum beyond int64", statsOf<int64_t>({LLONG_MAX, LLONG_MAX}), {0x1p63f, 0x1p63f, 0x1p63f}},
    };
    for (const auto& c : cases)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(c.got[k], all(c.expected[k])) << c.name << " " << k;
    EXPECT_EQ(statsOf<vec3i>({{{1, 10, -5}}, {{3, -10, 6}}}),
              (std::vector<vec3f>{{{1, -10, -5}}, {{3, 10, 6}}, {{2, 0, 0}}}));  // per component
}

TEST(Block3, EraseSwapsWithTheLastAndFreesAnEmptiedBlock) {
    block3<int> b(0, 0, 0);
    for (int v : {'a', 'b', 'c', 'd', 'e'}) b.append(v);
    b.eraseSet({1, 3});
    EXPECT_EQ(std::vector<int>(b.data(), b.data() + b.count()), (std::vector<int>{'a', 'e', 'c'}));
    b.eraseSet({0, 1, 2});
    EXPECT_EQ(b.capacity(), 0);
}

TEST(Block3, RefusalsKeepTheElements) {
    block3<int> b(0, 0, 0, 5);
    b.append(42);
    b.resize(3);
    const uint8_t x[7] = {1, 2, 3, 4, 5, 6, 7};
    const struct { std::function<void()> action; std::string expected; } cases[] = {
        {[&] { b.decode(x, 7, kRaw); }, "Cannot decode 7 raw bytes as whole particle block elements of 4 bytes"},
        {[&] { b.decode(x, 7, 1000000); }, "Cannot decode 7 compressed bytes into 1000000 particle block elements"},
        {[&] { b.resize(int64_t(1) << 31); }, "Cannot resize a particle block to 2147483648 elements"},
        {[] { zt::block3_array<float>().reblock(zt::tile_layout3(1.0f, 4), 1); }, "Cannot reblock non-3f block array!"},
    };
    for (const auto& c : cases) EXPECT_EQ(messageOf(c.action), c.expected);
    EXPECT_EQ(messageOf([&] { b.decode(x, 7, 1); }).rfind("ZTP Decompression", 0), 0u);
    EXPECT_EQ(std::vector<int>(b.data(), b.data() + b.count()), (std::vector<int>{42, 5, 5}));
}

TEST(Block3Array, GlobalNumberingEmptySlotsAndMirroring) {
    EXPECT_EQ(zt::block3_array<float>().blockCount(), 0);
    EXPECT_EQ(zt::block3_array<float>().listCount(1), 1);
    auto a = makeArray<int>({{{{0, 0, 0}}, {1}}, {{}, {}, true}, {{{2, 0, 0}}, std::vector<int>(7, 2)}},
                            {{{{9, 9, 9}}, {7, 8}}}, -1);
    EXPECT_EQ(a->slotOf(3), (std::pair<int, int64_t>{1, 1}));
    EXPECT_EQ(a->slotOf(2), (std::pair<int, int64_t>{0, 2}));
    EXPECT_EQ(a->globalIndex(1, 1), 3);
    // Empty slots and slots out of range are empty blocks to their callers.
    EXPECT_EQ(a->blockSize(0, 99) + a->blockSize(1, 0) + a->blockSize(0, 1), 0);
    // A follower keeps its values and fills up with its default.
    auto follower = makeArray<vec3f>({{{{0, 0, 0}}, {all(10), all(11), all(12)}}}, {}, all(-1));
    follower->resizeLike(*a);
    ASSERT_EQ(follower->blockCount(), 4);
    EXPECT_EQ(valuesOf(*follower, 0), std::vector<vec3f>{all(10)});
    EXPECT_EQ(valuesOf(*follower, 1), std::vector<vec3f>{});
    EXPECT_EQ(valuesOf(*follower, 2), std::vector<vec3f>(7, all(-1)));
    EXPECT_EQ(valuesOf(*follower, 3), (std::vector<vec3f>{all(-1), all(-1)}));
    EXPECT_EQ(follower->block(3)->coord(), (vec3i{{9, 9, 9}}));
}

// Values of the block of `array` that holds `tile`.
template <class T>
std::vector<T> valuesAt(zt::block3_array_base& array, const vec3i& tile) {
    for (int64_t g = 0; g < array.blockCount(); ++g)
        if (array.block(g) && array.block(g)->coord() == tile)
            return valuesOf(dynamic_cast<zt::block3_array<T>&>(array), g);
    return {};
}

TEST(Block3Array, ReblockMovesParticlesOfEveryChannelAndMakesMissingBlocks) {
    zt::tile_layout3 layout(1.0f, 4);
    layout.addTile(0, 0, 0, false);
    layout.addTile(1, 0, 0, false);
    layout.updateNeighbours(true);
    // On tile (1,0,0)'s lower face, at -0.5 cell (voxel -1: coarse tile
    // (-1,0,0)), staying, and far from any tile; only (0,0,0) has a block.
    auto positions = makeArray<vec3f>({{{{0, 0, 0}}, {{{4.0f, 0.5f, 0.5f}}, {{-0.5f, 0.5f, 0.5f}}, all(1), all(100)}}});
    auto ids = makeArray<int>({{{{0, 0, 0}}, {0, 1, 2, 3}}});
    auto lagging = makeArray<float>({{{{0, 0, 0}}, {}}});
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        std::unique_ptr<zt::block3_array_base> pos = positions->clone(), id = ids->clone();
        zt::block_move_plan plan = pos->reblock(layout, threads);
        EXPECT_EQ(messageOf([&] { lagging->applyMoves(plan, *lagging); }),
                  "Particle channel out of step: block 0 has no element 1");
        for (zt::block3_array_base* channel : {pos.get(), id.get()}) {
            channel->applyMoves(plan, *channel);
            channel->applyRemovals(plan);
            channel->adoptNewBlocks(plan);
        }
        EXPECT_EQ(valuesAt<int>(*id, {{0, 0, 0}}), (std::vector<int>{2, 3}));
        EXPECT_EQ(valuesAt<int>(*id, {{1, 0, 0}}), std::vector<int>{0});
        EXPECT_EQ(valuesAt<int>(*id, {{-1, 0, 0}}), std::vector<int>{1});
        EXPECT_EQ(valuesAt<vec3f>(*pos, {{1, 0, 0}}), (std::vector<vec3f>{{{4.0f, 0.5f, 0.5f}}}));
    }
}

// Particles reach their new blocks in source order (block, then element)
// however the blocks fell to the workers, so a reblocked body is the same on
// every machine.
TEST(Block3Array, ReblockPlansKeepSourceOrderOnAnyTeam) {
    constexpr int kBlocks = 64, kStaying = 8000;
    zt::tile_layout3 layout(1.0f, 4);
    for (int i = 0; i < kBlocks; ++i) layout.addTile(i, 0, 0, false);
    layout.updateNeighbours(true);
    // Every block but the first holds particles that stay, then one for
    // tile (0,0,0), which has a block, and one for (0,1,0), which has none.
    std::vector<BlockSpec<vec3f>> fine;
    for (int i = 0; i < kBlocks; ++i) {
        std::vector<vec3f> values(size_t(i ? kStaying : 1), vec3f{{4.0f * float(i) + 1, 1, 1}});
        if (i) values.insert(values.end(), {vec3f{{1, 1, 1}}, vec3f{{1, 5, 1}}});
        fine.push_back({{{i, 0, 0}}, values});
    }
    const auto positions = makeArray<vec3f>(fine);
    std::vector<int> sources;
    for (int i = 1; i < kBlocks; ++i) sources.push_back(i);
    // Several tries: a team whose other workers wake late may leave all
    // blocks to one of them.
    for (int team : {1, 2, 4, 2, 4, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        const zt::block_move_plan plan = positions->reblock(layout, team);
        ASSERT_EQ(1u, plan.toBlocks.size());
        ASSERT_EQ(1u, plan.toNewBlocks.size());
        for (const zt::block_moves* moves : {&plan.toBlocks.at(0), &plan.toNewBlocks.begin()->second.moves}) {
            EXPECT_EQ(sources, std::vector<int>(moves->blocks.begin(), moves->blocks.end()));
            EXPECT_EQ(std::vector<int>(sources.size(), moves == &plan.toBlocks.at(0) ? kStaying : kStaying + 1),
                      std::vector<int>(moves->elements.begin(), moves->elements.end()));
        }
    }
}

// The memory figure is a float sum over the blocks: summed in block order it
// is the same on any team.
TEST(Block3Array, MemoryIsTheSameOnAnyTeam) {
    std::vector<BlockSpec<vec3f>> fine;
    for (int i = 0; i < 1000; ++i) fine.push_back({{{i, 0, 0}}, std::vector<vec3f>(size_t(1 + (i * 7919) % 997), all(1))});
    const auto blocks = makeArray<vec3f>(fine);
    float first = 0.0f;
    {
        ScopedThreads one(1);
        first = blocks->memoryMB();
    }
    // Several tries: how a team splits the blocks is a matter of timing.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int team = 2 + 2 * (attempt % 2);
        SCOPED_TRACE(::testing::Message() << "team " << team);
        ScopedThreads scope(team);
        ASSERT_EQ(first, blocks->memoryMB());
    }
}

std::vector<vec3i> fineTiles(const zt::tile_layout3& layout) {
    std::vector<vec3i> out;
    for (int64_t s = 0; s < layout.fineCount(); ++s)
        out.push_back(layout.fineTile(s) ? layout.fineTile(s)->coord() : vec3i{{-99, -99, -99}});
    return out;
}

TEST(BuildFromParticles, MirrorsBlocksAndAddsFaceNeighbours) {
    zt::tile_layout3 layout(1.0f, 8);
    // In the middle of tile (0,0,0), 2 voxels from its high x face, and in
    // tile (0,2,0) 1 voxel from its low y and z faces; then an empty slot.
    auto particles = makeArray<vec3f>({{{{0, 0, 0}}, {all(4.5f), {{6.5f, 4.5f, 4.5f}}, {{4.5f, 16.5f, 0.5f}}}},
                                       {{}, {}, true}});
    for (int threads : {1, 2}) {
        layout.reset(-1, -1);
        zt::buildFromParticles(layout, *particles, true, nullptr, 0.0f, threads);
        // Mirrored slots first, then the requested tiles in coordinate order.
        EXPECT_EQ(fineTiles(layout), (std::vector<vec3i>{{{0, 0, 0}}, {{-99, -99, -99}}, {{0, 1, -1}}, {{0, 1, 0}},
                                                         {{0, 2, -1}}, {{0, 2, 0}}, {{1, 0, 0}}}));
    }
    auto twice = makeArray<vec3f>({{{{1, 1, 1}}, {}}, {{{1, 1, 1}}, {}}});
    zt::tile_layout3 fresh(1.0f, 8);
    EXPECT_EQ(messageOf([&] { zt::buildFromParticles(fresh, *twice, true, nullptr, 0.0f); }),
              "Cannot build a tile layout: two particle blocks hold tile (1, 1, 1)");
}

// Writes `array`'s record after `prefix` into `path`; returns its end.
int64_t writeRecord(zt::block3_array_base& array, const std::string& path, bool compress,
                    const std::vector<uint8_t>& prefix = {}) {
    Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
    out.writeExact(prefix.data(), prefix.size(), "prefix");
    array.write(out, compress);
    return out.tell();  // closed on leaving
}

// Reads the record at `position` as file version `version`; returns where reading stopped.
int64_t readRecord(zt::block3_array_base& array, const std::string& path, int32_t version, int64_t position = 0) {
    Cb::ZtpInput in(Cb::openFile(path, "rb"), path, version);
    in.seek(position);
    version >= zt::kBlockTableVersion ? array.readHeader(in) : array.readHeaderLegacy(in);
    return in.tell();
}

TEST(Block3Record, ExactBytesOfASmallRawRecord) {
    TempDir dir;
    const std::string path = dir.file("record.ztp");
    auto a = makeArray<int>({{{{1, 2, 3}}, {7, 8}}}, {{{{-1, 0, 0}}, {}}});
    EXPECT_EQ(writeRecord(*a, path, false, {0xEE, 0xEE, 0xEE}), 157);
    ByteBuilder expected;
    expected.raw("\xEE\xEE\xEE", 3).i32(2).i32(1).i64(6).u8(0).i64(6).u32(1).u32(2).u32(3).u32(~0u).u32(0).u32(0);
    expected.i64(8).u8(0).i64(8).u64(0).u64(8).u64(kRaw).u64(0).u64(8).u64(0).u64(kRaw).u64(0);
    expected.i64(157).i64(8).i32(7).i32(8);
    EXPECT_EQ(toHex(readBytes(path)), toHex(expected.data()));
}

// Fine blocks of 0, 1, 300 and 5000 values that compress well, and a coarse one of 70.
std::unique_ptr<zt::block3_array<vec3f>> sampleArray() {
    const int sizes[] = {0, 1, 300, 5000, 70};
    std::vector<BlockSpec<vec3f>> blocks;
    for (int b = 0; b < 5; ++b) {
        blocks.push_back({{{b, -b, b < 4 ? 2 : -9}}, {}});
        for (int e = 0; e < sizes[b]; ++e)
            blocks.back().values.push_back({{float(b * 1000 + e % 97), float(-b), float(e % 5)}});
    }
    return makeArray<vec3f>({blocks.begin(), blocks.end() - 1}, {blocks.back()}, all(7));
}

void expectSame(zt::block3_array<vec3f>& original, zt::block3_array<vec3f>& back) {
    ASSERT_EQ(back.blockCount(), original.blockCount());
    for (int64_t g = 0; g < original.blockCount(); ++g) {
        EXPECT_EQ(valuesOf(back, g), valuesOf(original, g)) << "block " << g;
        EXPECT_EQ(back.block(g)->coord(), original.block(g)->coord());
        EXPECT_EQ(back.typedBlock(g)->defaultValue(), back.defaultValue());
    }
}

TEST(Block3Record, RoundTripsRawAndCompressedWithOneAndTwoThreads) {
    TempDir dir;
    auto original = sampleArray();
    for (bool compress : {false, true}) {
        const std::string path = dir.file(compress ? "packed.ztp" : "raw.ztp");
        const int64_t end = writeRecord(*original, path, compress, {1, 2, 3, 4, 5});
        for (int threads : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << "compress " << compress << ", threads " << threads);
            ScopedThreads scope(threads);
            zt::block3_array<vec3f> whole(all(7));
            EXPECT_EQ(readRecord(whole, path, 16, 5), end);
            // Small batches or one, around a block that is already in memory.
            if (threads == 2) whole.setLoadBatchBytes(300);
            whole.block(0, 2);
            whole.ensureLoaded();
            EXPECT_FALSE(whole.loadPending());
            expectSame(*original, whole);
        }
    }
}

TEST(Block3Deferred, PendingDataLoadsOnlyWhenAllowedOrRestructuredAndFailuresLoadNothing) {
    TempDir dir;
    const std::string path = dir.file("deferred.ztp"), damaged = dir.file("damaged.ztp");
    auto original = sampleArray();
    const int64_t end = writeRecord(*original, path, true);
    std::vector<uint8_t> bytes = readBytes(path);
    // The compressed bytes of block 4, the coarse one, last in the region.
    for (size_t i = bytes.size() - 40; i < bytes.size() - 4; ++i) bytes[i] ^= 0x5A;
    writeFile(damaged, bytes);
    zt::block3_array<vec3f> a, lead, mirror, gone, cut, bad;
    for (auto* array : {&a, &lead, &gone, &cut}) readRecord(*array, path, 16);
    readRecord(bad, damaged, 16);
    a.setLoadingAllowed(false);
    a.ensureLoaded();
    for (int64_t g = 0; g < a.blockCount(); ++g) EXPECT_EQ(a.residentBlock(g), nullptr);
    // A single block still loads on first touch, and only that one.
    EXPECT_EQ(valuesOf(a, 2), valuesOf(*original, 2));
    EXPECT_EQ(a.residentBlock(3), nullptr);
    std::unique_ptr<zt::block3_array_base> copy = a.clone();  // keeps the deferred data and may load it
    copy->ensureLoaded();
    EXPECT_EQ(copy->elementCount(), original->elementCount());
    a.compactBlocks();  // would otherwise drop the blocks still in the file
    expectSame(*original, a);
    // Mirroring an array still in the file is refused rather than emptying it.
    EXPECT_EQ(messageOf([&] { mirror.resizeLike(lead); }), "Cannot mirror particle blocks that are still in the file");
    lead.ensureLoaded();
    mirror.resizeLike(lead);
    EXPECT_EQ(mirror.elementCount(), original->elementCount());

    const std::string message = messageOf([&] { bad.ensureLoaded(); });
    EXPECT_EQ(message.rfind("ZTP Decompression", 0), 0u) << message;
    std::filesystem::remove(path);
    EXPECT_EQ(messageOf([&] { gone.block(0, 1); }),
              "read_ztp(" + path + ") failed: Cannot open file: No such file or directory");
    writeRecord(*original, path, true);
    std::filesystem::resize_file(path, uint64_t(end - 10));
    EXPECT_EQ(messageOf([&] { cut.ensureLoaded(); }),
              "read_ztp(" + path + ") failed: the file is shorter than when it was read");
    EXPECT_TRUE(!gone.residentBlock(1) && !bad.residentBlock(4));
    EXPECT_TRUE(gone.loadPending() && cut.loadPending() && bad.loadPending());
}

TEST(Block3Deferred, WaitingBlocksTellWhereTheyLieAndReleasedBlocksLoadAgain) {
    TempDir dir;
    auto original = sampleArray();
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "raw");
        const std::string path = dir.file(compress ? "packed.ztp" : "raw.ztp");
        writeRecord(*original, path, compress, {0xEE, 0xEE});
        const std::vector<uint8_t> bytes = readBytes(path);
        zt::block3_array<vec3f> a;
        readRecord(a, path, 16, 2);
        for (int64_t g = 0; g < a.blockCount(); ++g) {
            zt::stored_block info;
            ASSERT_TRUE(a.storedBlockInfo(g, info));
            EXPECT_EQ(info.tile, original->block(g)->coord());
            EXPECT_EQ(info.elements, original->block(g)->count());
            // Short blocks stay raw even when compressing.
            EXPECT_EQ(info.compressed, compress && info.elements * 12 >= 256);
            if (!info.compressed) {
                EXPECT_EQ(info.storedBytes, info.elements * 12);
            }
            if (!info.compressed && info.storedBytes > 0) {
                ASSERT_LE(uint64_t(info.fileOffset + info.storedBytes), bytes.size());
                EXPECT_EQ(0, std::memcmp(bytes.data() + info.fileOffset, original->block(g)->elementBytes().data(),
                                         size_t(info.storedBytes)));
            }
        }
        // A block read and released is read again, equal, on the next touch.
        const std::vector<vec3f> block3Values = valuesOf(a, 3);
        zt::stored_block info;
        EXPECT_FALSE(a.storedBlockInfo(3, info));
        EXPECT_TRUE(a.releaseBlock(3));
        EXPECT_EQ(a.residentBlock(3), nullptr);
        EXPECT_TRUE(a.storedBlockInfo(3, info));
        EXPECT_EQ(valuesOf(a, 3), block3Values);
        EXPECT_FALSE(a.releaseBlock(99));
        a.ensureLoaded();
        EXPECT_FALSE(a.storedBlockInfo(0, info) || a.releaseBlock(3));
        EXPECT_NE(a.residentBlock(3), nullptr);
    }
}

// Threads that touch a waiting array at once load it once, and each reads
// every block complete: whole loads and single-block loads mixed.
TEST(Block3Deferred, ConcurrentFirstTouchesLoadOnceAndSeeEveryBlock) {
    TempDir dir;
    auto original = sampleArray();
    const std::string path = dir.file("shared.ztp");
    writeRecord(*original, path, true);
    for (int round = 0; round < 20; ++round) {
        zt::block3_array<vec3f> a;
        readRecord(a, path, 16);
        a.setLoadBatchBytes(round % 2 ? 300 : zt::block3_array_base::kDefaultLoadBatchBytes);
        std::atomic<int> wrong{0};
#pragma omp parallel num_threads(8)
        {
            const int t = omp_get_thread_num();
            for (int64_t k = 0; k < a.blockCount(); ++k) {
                const int64_t g = (k + t) % a.blockCount();
                if (t % 2) a.ensureLoaded();
                const std::span<const vec3f> got = a.elements(g);
                const std::span<const vec3f> want = original->elements(g);
                if (!std::equal(got.begin(), got.end(), want.begin(), want.end())) ++wrong;
            }
        }
        EXPECT_EQ(wrong.load(), 0) << "round " << round;
        EXPECT_FALSE(a.loadPending());
    }
}

// Streaming a block through in short runs reads what reading it whole reads,
// and fails the same way: a stream that ends early or breaks is a data
// error, one with more than announced a buffer error, a short file a read error.
TEST(Block3File, StreamedBlocksMatchWholeReadsAndTheirFailures) {
    TempDir dir;
    const std::string path = dir.file("blocks.bin");
    std::vector<vec3f> values;
    for (int i = 0; i < 5000; ++i) values.push_back({{float(i % 13), float(i) * 0.5f, -float(i % 101)}});
    const size_t rawBytes = values.size() * sizeof(vec3f);
    zt::array1<uint8_t> packed = zt::compressBuffer(values.data(), rawBytes);
    std::vector<uint8_t> file(packed.data(), packed.data() + packed.count());
    std::vector<uint8_t> broken = file;
    broken[broken.size() / 2] ^= 0x40;
    const int64_t brokenAt = int64_t(file.size());
    file.insert(file.end(), broken.begin(), broken.end());
    const int64_t rawAt = int64_t(file.size());
    file.insert(file.end(), reinterpret_cast<const uint8_t*>(values.data()),
                reinterpret_cast<const uint8_t*>(values.data()) + rawBytes);
    writeFile(path, file);
    zt::block3_file blocks(path);
    EXPECT_EQ(messageOf([&] { zt::block3_file none(dir.file("none")); }),
              "read_ztp(" + dir.file("none") + ") failed: Cannot open file: No such file or directory");

    auto stored = [&](int64_t at, int64_t bytes, int64_t elements, bool compressed) {
        zt::stored_block info;
        info.fileOffset = at;
        info.storedBytes = bytes;
        info.elements = elements;
        info.compressed = compressed;
        return info;
    };
    const int64_t n = int64_t(values.size()), size = int64_t(packed.count());
    const struct { zt::stored_block info; std::string failure; } cases[] = {
        {stored(0, size, n, true), ""},
        {stored(rawAt, int64_t(rawBytes), n, false), ""},
        {stored(0, size, n + 1, true), "ZTP Decompression Data Error:"},
        {stored(0, size, n - 1, true), "ZTP Decompression Buffer Error:"},
        {stored(0, size / 2, n, true), "ZTP Decompression Data Error:"},
        {stored(brokenAt, size, n, true), "ZTP Decompression Data Error:"},
        {stored(rawAt, int64_t(rawBytes), n + 1, false), "Error reading array data"},
        {stored(0, size, 0, true), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.info.fileOffset << " " << c.info.storedBytes << " " << c.info.elements);
        std::vector<vec3f> whole(size_t(c.info.elements)), streamed;
        std::vector<uint8_t> scratch;
        const std::string wholeFailure = messageOf([&] { blocks.readBlock(c.info, sizeof(vec3f), whole.data(), scratch); });
        const std::string streamFailure = messageOf([&] {
            blocks.streamBlock(c.info, sizeof(vec3f), 7, [&](const void* run, int64_t count) {
                EXPECT_LE(count, 7);
                const auto* v = static_cast<const vec3f*>(run);
                streamed.insert(streamed.end(), v, v + count);
            });
        });
        if (c.failure.empty()) {
            EXPECT_EQ(wholeFailure, "(no failure)");
            EXPECT_EQ(streamFailure, "(no failure)");
            EXPECT_EQ(streamed, whole);
            EXPECT_EQ(whole, std::vector<vec3f>(values.begin(), values.begin() + c.info.elements));
        } else {
            EXPECT_EQ(wholeFailure.substr(0, c.failure.size()), c.failure) << wholeFailure;
            EXPECT_EQ(streamFailure.substr(0, c.failure.size()), c.failure) << streamFailure;
        }
    }
}

// The failure of reading a block table without its "Corrupt particle block
// table in <path>: " prefix; "" when the table is accepted.
template <class T>
std::string tableFailure(const std::vector<uint8_t>& bytes, int32_t version, int64_t position = 0) {
    TempDir dir;
    const std::string path = dir.file("hostile.ztp");
    writeFile(path, bytes);
    zt::block3_array<T> a;
    const std::string message = messageOf([&] { readRecord(a, path, version, position); });
    if (message == "(no failure)") return "";
    EXPECT_TRUE(a.blockCount() == 0 && !a.loadPending());
    const std::string prefix = "Corrupt particle block table in " + path + ": ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

// A version 14+ record of one block of two ints, field by field.
struct Record {
    int32_t total = 1, fine = 1;
    std::vector<uint32_t> tiles{0, 0, 0};
    std::vector<uint64_t> table{0, 8, kRaw, 0};
    int64_t endDelta = 0, dataDelta = 0;
};

std::vector<uint8_t> bytesOf(const Record& r) {
    ByteBuilder b;
    b.i32(r.total).i32(r.fine).i64(int64_t(r.tiles.size())).u8(0).i64(int64_t(r.tiles.size()));
    for (uint32_t t : r.tiles) b.u32(t);
    b.i64(int64_t(r.table.size())).u8(0).i64(int64_t(r.table.size()));
    for (uint64_t t : r.table) b.u64(t);
    return b.i64(int64_t(b.size()) + 24 + r.endDelta).i64(8 + r.dataDelta).i32(1).i32(2).data();
}

TEST(Block3HostileTables, EveryBadEntryFailsBeforeAnyBlockIsRead) {
    const struct { Record record; std::string detail; } cases[] = {
        {{}, ""},
        {{.table = {4, 8, kRaw, 0}}, "block 0 lies outside the data region"},
        {{.table = {~uint64_t(0) - 3, 8, kRaw, 0}}, "block 0 lies outside the data region"},
        {{.table = {0, 7, kRaw, 0}}, "block 0 holds a partial element"},
        {{.table = {0, 8, 100000, 0}}, "block 0 announces more elements than its bytes can hold"},
        {{.table = {0, 8, uint64_t(1) << 40, 0}}, "block 0 announces more elements than its bytes can hold"},
        {{.tiles = {0, 0}}, "2 tile coordinates for 1 blocks"},
        {{.table = {0, 8, kRaw}}, "3 table values for 1 blocks"},
        {{.total = -1, .fine = 0}, "list counts 0 of -1 blocks"},
        {{.fine = 2}, "list counts 2 of 1 blocks"},
        {{.endDelta = 1}, "the data region of 8 bytes at 94 does not end at 111 inside the file"},
        {{.dataDelta = 1}, "the data region of 9 bytes at 94 does not end at 110 inside the file"},
        // Every stored byte belongs to one block: blocks sharing bytes would
        // inflate them again and again. Empty blocks claim no bytes.
        {{.total = 2, .fine = 2, .tiles = {0, 0, 0, 1, 0, 0}, .table = {0, 8, kRaw, 0, 0, 8, kRaw, 0}},
         "blocks 0 and 1 share stored bytes"},
        {{.total = 2, .fine = 2, .tiles = {0, 0, 0, 1, 0, 0}, .table = {4, 4, kRaw, 0, 0, 8, kRaw, 0}},
         "blocks 1 and 0 share stored bytes"},
        {{.total = 3, .fine = 2, .tiles = {0, 0, 0, 1, 0, 0, 2, 0, 0}, .table = {0, 8, kRaw, 0, 8, 0, kRaw, 0, 8, 0, kRaw, 0}},
         ""},
    };
    for (const auto& c : cases) EXPECT_EQ(tableFailure<int>(bytesOf(c.record), 16), c.detail);
}

// A legacy array: u32 byte size, then (when not empty) u32 flag 0 and the
// bytes, or flag 1, u32 size and the zlib stream.
void legacyArray(ByteBuilder& b, const void* data, size_t size, bool compress) {
    b.u32(uint32_t(size));
    const zt::array1<uint8_t> packed = compress ? zt::compressBuffer(data, size) : zt::array1<uint8_t>();
    if (size == 0) return;
    if (compress) b.u32(1).u32(uint32_t(packed.count())).raw(packed.data(), size_t(packed.count()));
    else b.u32(0).raw(data, size);
}

struct LegacyBlock { vec3i tile; std::vector<vec3f> values; bool compress; };

// A record of `version` after 7 bytes: list counts, offset tables, end
// position, then the blocks; the last `coarse` ones form list 1 (version 13).
std::vector<uint8_t> legacyRecord(int32_t version, const std::vector<LegacyBlock>& blocks, size_t coarse) {
    ByteBuilder data;
    std::vector<int64_t> offsets[2] = {{}, {-1}};  // from the first block; -1 is list 1's empty slot
    for (size_t i = 0; i < blocks.size(); ++i) {
        offsets[i + coarse >= blocks.size()].push_back(int64_t(data.size()));
        data.i32(blocks[i].tile[0]).i32(blocks[i].tile[1]).i32(blocks[i].tile[2]);
        legacyArray(data, blocks[i].values.data(), blocks[i].values.size() * sizeof(vec3f), blocks[i].compress);
    }
    auto header = [&](int64_t start) {
        ByteBuilder b;
        b.raw("\xAB\xAB\xAB\xAB\xAB\xAB\xAB", 7).i32(int32_t(offsets[0].size()));
        if (version == 13) b.i32(int32_t(offsets[1].size()));
        for (int list = 0; list < (version == 13 ? 2 : 1); ++list) {
            std::vector<int64_t> at;
            for (int64_t o : offsets[list]) at.push_back(o < 0 ? 0 : start + o);
            legacyArray(b, at.data(), at.size() * 8, false);
        }
        return b.i64(start + int64_t(data.size()));
    };
    return header(int64_t(header(0).size())).bytes(data.data()).data();
}

std::vector<vec3f> ramp(int n, float base) {
    std::vector<vec3f> v;
    for (int i = 0; i < n; ++i) v.push_back({{base + float(i), float(i % 7), -base}});
    return v;
}

TEST(Block3Legacy, Versions13And11BlockByBlockAndWhole) {
    const std::vector<LegacyBlock> blocks = {
        {{{0, 0, 0}}, ramp(10, 1), false}, {{{1, 0, 0}}, ramp(40, 2), true}, {{{0, 1, -1}}, ramp(1, 3), false}};
    TempDir dir;
    const std::string path = dir.file("legacy.ztp");
    for (int32_t version : {13, 11}) {
        const std::vector<uint8_t> bytes = legacyRecord(version, blocks, version == 13 ? 1 : 0);
        writeFile(path, bytes);
        for (int threads : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << "version " << version << ", threads " << threads);
            ScopedThreads scope(threads);
            zt::block3_array<vec3f> a(all(9));
            EXPECT_EQ(readRecord(a, path, version, 7), int64_t(bytes.size()));
            EXPECT_EQ(a.listCount(1), version == 13 ? 2 : 1);
            if (threads == 2) a.ensureLoaded();
            EXPECT_EQ(a.loadPending(), threads == 1);
            ASSERT_EQ(a.blockCount(), 3);
            for (int64_t g = 0; g < 3; ++g) {
                EXPECT_EQ(valuesOf(a, g), blocks[size_t(g)].values);
                EXPECT_EQ(a.block(g)->coord(), blocks[size_t(g)].tile);
            }
            EXPECT_EQ(a.typedBlock(1)->defaultValue(), all(9));
        }
    }
}

TEST(Block3Legacy, BadCountsAndOffsetsAreRefused) {
    const std::vector<uint8_t> good = legacyRecord(13, {{{{0, 0, 0}}, ramp(2, 0), false}}, 0);
    // Bytes 7 and 11 hold the list counts, 23..30 block 0's offset (55), 47..54 the end (99).
    const struct { size_t at; uint8_t value; std::string detail; } cases[] = {
        {7, 1, ""},
        {10, 0x80, "list counts -2147483647 and 1"},
        {11, 0, "list counts 1 and 0"},
        {7, 2, "1 and 1 block offsets for lists of 2 and 1 slots"},
        {24, 0x27, "block 0 of list 0 at 10039 lies outside the block data"},
        {49, 1, "the blocks end at 65635 outside the file"},
        {47, 57, "block 0 of list 0 at 55 lies outside the block data"},  // the block needs 16 bytes
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = good;
        bytes[c.at] = c.value;
        EXPECT_EQ(tableFailure<vec3f>(bytes, 13, 7), c.detail);
    }
}

TEST(Block3Legacy, BlocksMayNotShareBytes) {
    const std::vector<LegacyBlock> blocks = {{{{0, 0, 0}}, ramp(10, 1), true}, {{{1, 0, 0}}, ramp(3, 2), false}};
    const std::vector<uint8_t> good = legacyRecord(11, blocks, 0);
    // Bytes 7..10 hold the fine count, 19..26 block 0's offset, 27..34 block 1's.
    auto offset = [](const std::vector<uint8_t>& bytes, size_t at) {
        int64_t o = 0;
        std::memcpy(&o, bytes.data() + at, 8);
        return o;
    };
    const int64_t first = offset(good, 19);
    ASSERT_EQ(first, 43);
    std::vector<uint8_t> twice = good;
    std::copy_n(good.begin() + 19, 8, twice.begin() + 27);
    EXPECT_EQ(tableFailure<vec3f>(twice, 11, 7), "block 0 of list 0 at 43 overlaps block 1 of list 0 at 43");
    std::vector<uint8_t> close = good;
    const int64_t inside = first + 8;
    std::memcpy(close.data() + 27, &inside, 8);
    EXPECT_EQ(tableFailure<vec3f>(close, 11, 7), "block 0 of list 0 at 43 overlaps block 1 of list 0 at 51");

    // A block whose array claims bytes past the next block's start fails
    // when it loads, instead of reading the next block's bytes as its own.
    TempDir dir;
    const std::string path = dir.file("legacy.ztp");
    std::vector<uint8_t> greedy = legacyRecord(11, {{{{0, 0, 0}}, ramp(10, 1), false}, blocks[1]}, 0);
    const uint32_t claimed = 12 * 10 + 24;  // block 0's raw byte size: 120 becomes 144
    std::memcpy(greedy.data() + first + 12, &claimed, 4);
    writeFile(path, greedy);
    zt::block3_array<vec3f> a;
    readRecord(a, path, 11, 7);
    EXPECT_EQ(messageOf([&] { a.block(0); }), "Error reading ztp array");
    EXPECT_EQ(valuesOf(a, 1), blocks[1].values);
}

}  // namespace
