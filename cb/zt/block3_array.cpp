#include "zt/block3_array.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <cstring>
#include <limits>
#include <mutex>

#include "cb/io/CompressedArray.h"
#include "cb/io/ZtpEncoding.h"
#include "cb/io/ZtpStream.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace zt {

namespace {

// One lock for the single-block loads of every block array in the process.
std::mutex& blockLoadMutex() {
    static std::mutex mutex;
    return mutex;
}

int workerCount(int threads) { return threads > 0 ? threads : std::max(1, omp_get_max_threads()); }

// Tile coordinates and table values per global block in the version 14 record.
constexpr int64_t kTileStride = 3;
// Bytes before a block's data in a legacy file: its tile coordinates and the
// legacy array's byte size.
constexpr int64_t kLegacyBlockHeader = 3 * 4 + 4;
// The data region's i64 byte count comes before its bytes.
constexpr int64_t kByteCountSize = 8;
constexpr int64_t kMaxGlobalBlocks = std::numeric_limits<int32_t>::max();

[[noreturn]] void badTable(const std::string& fileName, const std::string& detail) {
    throw ztx::base(cat("Corrupt particle block table in ", fileName, ": ", detail));
}

}  // namespace

// ---------------------------------------------------------------------------
// block3_list

block3_list& block3_list::operator=(block3_list&& other) noexcept {
    if (this != &other) {
        clear();
        slots_ = std::move(other.slots_);
    }
    return *this;
}

block3_base* block3_list::get(int64_t slot) const {
    // atomic_ref needs a mutable object even for a load.
    auto& cell = const_cast<block3_base*&>(slots_[size_t(slot)]);
    return std::atomic_ref<block3_base*>(cell).load(std::memory_order_acquire);
}

void block3_list::set(int64_t slot, std::unique_ptr<block3_base> block) {
    block3_base* old = get(slot);
    std::atomic_ref<block3_base*>(slots_[size_t(slot)]).store(block.release(), std::memory_order_release);
    delete old;
}

std::unique_ptr<block3_base> block3_list::take(int64_t slot) {
    std::unique_ptr<block3_base> block(get(slot));
    std::atomic_ref<block3_base*>(slots_[size_t(slot)]).store(nullptr, std::memory_order_release);
    return block;
}

void block3_list::push_back(std::unique_ptr<block3_base> block) {
    slots_.push_back(block.get());
    block.release();
}

void block3_list::resize(int64_t n) {
    if (n < 0) n = 0;
    for (size_t s = size_t(n); s < slots_.size(); ++s) delete slots_[s];
    slots_.resize(size_t(n), nullptr);
}

void block3_list::erase(int64_t slot) {
    delete slots_[size_t(slot)];
    slots_.erase(slots_.begin() + slot);
}

// ---------------------------------------------------------------------------
// move plans

void block_moves::append(const block_moves& other) {
    blocks.reserve(blocks.count() + other.blocks.count());
    elements.reserve(elements.count() + other.elements.count());
    for (int64_t r = 0; r < other.count(); ++r) add(other.blocks[r], other.elements[r]);
}

void block_move_plan::record(int64_t source, int element, int64_t destination) {
    toBlocks[destination].add(int(source), element);
    removals[source].push_back(element);
}

void block_move_plan::recordNew(int64_t source, int element, const tile_key& tile, bool coarse, int64_t slot) {
    new_block_moves& entry = toNewBlocks[tile];
    entry.moves.add(int(source), element);
    entry.coarse = coarse;
    entry.slot = slot;
    removals[source].push_back(element);
}

void block_move_plan::merge(block_move_plan&& other) {
    for (auto& [destination, moves] : other.toBlocks) toBlocks[destination].append(moves);
    for (auto& [tile, entry] : other.toNewBlocks) {
        new_block_moves& mine = toNewBlocks[tile];
        mine.moves.append(entry.moves);
        mine.coarse = entry.coarse;
        mine.slot = entry.slot;
    }
    for (auto& [source, elements] : other.removals) {
        array1<int>& mine = removals[source];
        for (int e : elements) mine.push_back(e);
    }
    other = block_move_plan();
}

// ---------------------------------------------------------------------------
// statistics

statistic_partial::statistic_partial(block_statistic which) {
    const float start = which == block_statistic::min ? FLT_MAX : which == block_statistic::max ? -FLT_MAX : 0.0f;
    value = {{start, start, start}};
}

void statistic_partial::add(const block3_base& block, block_statistic which) {
    if (block.empty()) return;
    saw = true;
    switch (which) {
        case block_statistic::min: {
            const vec3f m = block.min3f();
            for (int c = 0; c < 3; ++c) value[c] = std::min(value[c], m[c]);
            break;
        }
        case block_statistic::max: {
            const vec3f m = block.max3f();
            for (int c = 0; c < 3; ++c) value[c] = std::max(value[c], m[c]);
            break;
        }
        case block_statistic::mean: {
            const vec3f m = block.mean3f();
            for (int c = 0; c < 3; ++c) value[c] += m[c];
            blocks += 1.0f;
            break;
        }
    }
}

bool combinePartials(std::span<const statistic_partial> partials, block_statistic which, vec3f& result) {
    statistic_partial combined(which);
    float workers = 0.0f;
    for (const statistic_partial& p : partials) {
        if (!p.saw) continue;
        combined.saw = true;
        for (int c = 0; c < 3; ++c) {
            switch (which) {
                case block_statistic::min: combined.value[c] = std::min(combined.value[c], p.value[c]); break;
                case block_statistic::max: combined.value[c] = std::max(combined.value[c], p.value[c]); break;
                // Each worker's mean of block means counts once.
                case block_statistic::mean: combined.value[c] += p.value[c] / p.blocks; break;
            }
        }
        workers += 1.0f;
    }
    if (!combined.saw) return false;
    if (which == block_statistic::mean)
        for (int c = 0; c < 3; ++c) combined.value[c] /= workers;
    result = combined.value;
    return true;
}

// ---------------------------------------------------------------------------
// block3_array_base: construction and numbering

block3_array_base::block3_array_base() { lists_[1].resize(1); }

block3_array_base::~block3_array_base() = default;

block3_array_base::block3_array_base(const block3_array_base& other)
    : tileTable_(other.tileTable_),
      blockTable_(other.blockTable_),
      fileName_(other.fileName_),
      version_(other.version_),
      dataPosition_(other.dataPosition_),
      dataBytes_(other.dataBytes_),
      loadBatchBytes_(other.loadBatchBytes_),
      loadingAllowed_(true),
      loadPending_(other.loadPending_) {
    for (int list = 0; list < 2; ++list) {
        legacyOffsets_[list] = other.legacyOffsets_[list];
        lists_[list].resize(other.lists_[list].count());
        for (int64_t s = 0; s < other.lists_[list].count(); ++s)
            if (const block3_base* b = other.lists_[list].get(s)) lists_[list].set(s, b->clone());
    }
}

block3_base* block3_array_base::block(int list, int64_t slot) {
    if (!isBlockSlot(list, slot)) return nullptr;
    if (block3_base* b = lists_[list].get(slot)) return b;
    if (!loadPending_) return nullptr;
    if (version_ >= kBlockTableVersion)
        loadBlock(list, slot);
    else
        loadBlockLegacy(list, slot, true);
    return lists_[list].get(slot);
}

int64_t block3_array_base::blockSize(int list, int64_t slot) {
    const block3_base* b = block(list, slot);
    return b ? b->count() : 0;
}

void block3_array_base::eraseElement(int64_t g, int e) {
    requireResident();
    if (block3_base* b = block(g)) b->eraseSet({e});
}

// ---------------------------------------------------------------------------
// deferred loading

Cb::ZtpInput& block3_array_base::openDeferred() {
    if (!file_) {
        Cb::FilePtr file = Cb::openFile(fileName_, "rb");
        if (!file) {
            const int error = errno;
            throw ztx::base(cat("read_ztp(", fileName_, ") failed: Cannot open file: ", std::strerror(error)));
        }
        auto in = std::make_unique<Cb::ZtpInput>(std::move(file), fileName_, version_);
        // The tables were checked against the file as it was then.
        if (version_ >= kBlockTableVersion && in->size() < dataPosition_ + kByteCountSize + dataBytes_)
            throw ztx::base(cat("read_ztp(", fileName_, ") failed: the file is shorter than when it was read"));
        file_ = std::move(in);
    }
    return *file_;
}

void block3_array_base::closeDeferred() noexcept { file_.reset(); }

void block3_array_base::endPending() noexcept {
    tileTable_.clear();
    blockTable_.clear();
    legacyOffsets_[0].clear();
    legacyOffsets_[1].clear();
    loadPending_ = false;
    closeDeferred();
}

vec3i block3_array_base::tableCoord(int64_t g) const {
    const uint32_t* t = &tileTable_[g * kTileStride];
    return {{int32_t(t[0]), int32_t(t[1]), int32_t(t[2])}};
}

std::unique_ptr<block3_base> block3_array_base::decodeEntry(int64_t g, const uint8_t* bytes) const {
    const vec3i c = tableCoord(g);
    std::unique_ptr<block3_base> b = newBlock(c[0], c[1], c[2]);
    b->decode(bytes, pieceField(blockTable_, g, kPieceStoredSize), pieceField(blockTable_, g, kPieceRawCount));
    return b;
}

void block3_array_base::loadBlock(int list, int64_t slot) {
    std::lock_guard<std::mutex> lock(blockLoadMutex());
    if (!isBlockSlot(list, slot) || lists_[list].get(slot) || !loadPending_ || version_ < kBlockTableVersion) return;
    Cb::ZtpInput& in = openDeferred();
    const int64_t g = globalIndex(list, slot);
    const uint64_t offset = pieceField(blockTable_, g, kPieceOffset);
    const uint64_t stored = pieceField(blockTable_, g, kPieceStoredSize);
    array1<uint8_t> bytes(static_cast<int64_t>(stored));
    in.seek(dataPosition_ + kByteCountSize + int64_t(offset));
    if (in.readRaw(bytes.data(), size_t(stored)) != Cb::ZtpInput::ReadResult::Ok)
        throw ztx::base(cat("Error reading particle block ", g, " from ", fileName_));
    lists_[list].set(slot, decodeEntry(g, bytes.data()));
    applyDefault(list, slot);
}

void block3_array_base::loadBlockLegacy(int list, int64_t slot, bool squeeze) {
    std::lock_guard<std::mutex> lock(blockLoadMutex());
    if (!isBlockSlot(list, slot) || lists_[list].get(slot) || !loadPending_ || version_ >= kBlockTableVersion) return;
    Cb::ZtpInput& in = openDeferred();
    in.seek(legacyOffsets_[list][slot]);
    std::unique_ptr<block3_base> b = newBlock(0, 0, 0);
    b->readLegacy(in);
    if (squeeze) b->squeeze();
    lists_[list].set(slot, std::move(b));
    applyDefault(list, slot);
}

void block3_array_base::ensureLoaded() {
    if (loadPending_ && loadingAllowed_) loadEverything();
}

void block3_array_base::loadAllBlocks() {
    if (loadPending_) loadEverything();
}

void block3_array_base::loadEverything() {
    if (version_ >= kBlockTableVersion)
        loadRemaining();
    else
        loadRemainingLegacy();
    endPending();
}

void block3_array_base::loadRemaining() {
    const int64_t total = blockCount();
    std::vector<int64_t> missing;
    for (int64_t g = 0; g < total; ++g)
        if (!residentBlock(g)) missing.push_back(g);
    if (missing.empty()) return;
    Cb::ZtpInput& in = openDeferred();
    in.seek(dataPosition_);
    if (in.read<int64_t>("Error reading array size") != dataBytes_)
        throw ztx::base(cat("read_ztp(", fileName_, ") failed: the particle data region has changed"));
    const bool allRaw = std::all_of(missing.begin(), missing.end(), [this](int64_t g) {
        return pieceField(blockTable_, g, kPieceRawCount) == kRawPiece;
    });
    if (allRaw)
        readRawBlocks(in, missing);
    else
        decodeBlocks(in, missing);
}

void block3_array_base::sortByOffset(std::vector<int64_t>& blocks) const {
    std::sort(blocks.begin(), blocks.end(), [this](int64_t a, int64_t b) {
        return pieceField(blockTable_, a, kPieceOffset) < pieceField(blockTable_, b, kPieceOffset);
    });
}

void block3_array_base::readRawBlocks(Cb::ZtpInput& in, std::vector<int64_t>& missing) {
    // Raw elements go straight from the file into their blocks, in file order.
    sortByOffset(missing);
    for (const int64_t g : missing) {
        const vec3i c = tableCoord(g);
        std::unique_ptr<block3_base> b = newBlock(c[0], c[1], c[2]);
        in.seek(dataPosition_ + kByteCountSize + int64_t(pieceField(blockTable_, g, kPieceOffset)));
        b->readRaw(in, pieceField(blockTable_, g, kPieceStoredSize));
        const auto [list, slot] = slotOf(g);
        lists_[list].set(slot, std::move(b));
        applyDefault(list, slot);
    }
}

void block3_array_base::decodeBlocks(Cb::ZtpInput& in, std::vector<int64_t>& missing) {
    // The stored bytes are read in file order, a batch of blocks at a time
    // into one reused buffer, and each batch inflates in parallel: one pass
    // over the file without holding all of its bytes at once.
    sortByOffset(missing);
    array1<uint8_t> buffer;
    size_t next = 0;
    while (next < missing.size()) {
        const uint64_t first = pieceField(blockTable_, missing[next], kPieceOffset);
        uint64_t last = first;
        size_t end = next;
        while (end < missing.size()) {
            const int64_t g = missing[end];
            const uint64_t blockEnd =
                pieceField(blockTable_, g, kPieceOffset) + pieceField(blockTable_, g, kPieceStoredSize);
            if (end > next && std::max(last, blockEnd) - first > loadBatchBytes_) break;
            last = std::max(last, blockEnd);
            ++end;
        }
        buffer.resize(int64_t(last - first));
        in.seek(dataPosition_ + kByteCountSize + int64_t(first));
        in.readExact(buffer.data(), size_t(buffer.count()), "Error reading array data");

        const int64_t count = int64_t(end - next);
        const int64_t* batch = missing.data() + next;
        parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) if (count > 1)
        for (int64_t m = 0; m < count; ++m) {
            errors.capture([&] {
                const int64_t g = batch[m];
                const uint8_t* bytes = buffer.data() + (pieceField(blockTable_, g, kPieceOffset) - first);
                const auto [list, slot] = slotOf(g);
                lists_[list].set(slot, decodeEntry(g, bytes));
                applyDefault(list, slot);
            });
        }
        errors.rethrow();
        next = end;
    }
}

void block3_array_base::loadRemainingLegacy() {
    for (int list = 0; list < 2; ++list)
        for (int64_t s = list; s < lists_[list].count(); ++s)
            if (!lists_[list].get(s)) loadBlockLegacy(list, s, false);
    const int64_t total = blockCount();
#pragma omp parallel for schedule(dynamic, 1) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        const auto [list, slot] = slotOf(g);
        if (block3_base* b = lists_[list].get(slot)) b->squeeze();
    }
}

// ---------------------------------------------------------------------------
// whole-array operations

void block3_array_base::clear() {
    lists_[0].clear();
    lists_[1].clear();
    lists_[1].resize(1);
    endPending();
    fileName_.clear();
    version_ = -1;
    dataPosition_ = dataBytes_ = 0;
}

void block3_array_base::compactBlocks() {
    requireResident();
    for (int list = 0; list < 2; ++list) {
        block3_list& blocks = lists_[list];
        for (int64_t k = blocks.count() - 1; k >= list; --k) {
            if (blocks.get(k)) continue;
            const int64_t last = blocks.count() - 1;
            if (k != last) blocks.set(k, blocks.take(last));
            blocks.resize(last);
        }
    }
}

void block3_array_base::updateLayout(const tile_layout3& layout) {
    requireResident();
    block3_list& fine = lists_[0];
    block3_list& coarse = lists_[1];
    const int64_t oldFine = fine.count();
    if (layout.fineCount() > oldFine) {
        fine.resize(layout.fineCount());
        for (int64_t i = oldFine; i < fine.count(); ++i) {
            const tile3* t = layout.fineTile(i);
            if (!t) continue;
            const int64_t s = t->previousOffset();
            // A promoted tile takes its coarse block along.
            if (s > 0 && s < coarse.count() && coarse.get(s)) {
                fine.set(i, coarse.take(s));
            } else {
                fine.set(i, newBlock(t->i(), t->j(), t->k()));
            }
        }
    }
    const int64_t oldCoarse = coarse.count();
    if (layout.coarseCount() > oldCoarse) {
        coarse.resize(layout.coarseCount());
        for (int64_t s = std::max<int64_t>(oldCoarse, 1); s < coarse.count(); ++s)
            if (const tile3* t = layout.coarseTile(s)) coarse.set(s, newBlock(t->i(), t->j(), t->k()));
    }
    auto dropEmptySlots = [&layout](block3_list& blocks, const array1<tile3*>& tiles, int64_t first) {
        const int64_t n = std::min(blocks.count(), tiles.count());
#pragma omp parallel for schedule(dynamic, 1) if (n > 64)
        for (int64_t s = first; s < n; ++s)
            if (!tiles[s] && blocks.get(s)) blocks.set(s, nullptr);
    };
    if (layout.hasEmptyCoarseSlots()) dropEmptySlots(coarse, layout.coarseTiles(), 1);
    if (layout.hasEmptyFineSlots()) dropEmptySlots(fine, layout.fineTiles(), 0);
    loadAllBlocks();
}

void block3_array_base::resizeLike(const block3_array_base& master) {
    requireResident();
    if (master.loadPending_) {
        for (int64_t g = 0; g < master.blockCount(); ++g)
            if (!master.residentBlock(g))
                throw ztx::base("Cannot mirror particle blocks that are still in the file");
    }
    for (int list = 0; list < 2; ++list) {
        block3_list& blocks = lists_[list];
        const block3_list& theirs = master.lists_[list];
        if (theirs.count() > blocks.count()) blocks.resize(theirs.count());
        const int64_t n = blocks.count();
        parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) if (n > 64)
        for (int64_t s = list; s < n; ++s) {
            errors.capture([&] {
                const block3_base* m = s < theirs.count() ? theirs.get(s) : nullptr;
                block3_base* b = blocks.get(s);
                if (!b && m) {
                    blocks.set(s, newBlock(m->i(), m->j(), m->k()));
                    b = blocks.get(s);
                }
                if (b) b->resize(m ? m->count() : 0);
            });
        }
        errors.rethrow();
    }
}

bool block3_array_base::mirrors(const block3_array_base& master) const {
    for (int list = 0; list < 2; ++list) {
        const block3_list& blocks = lists_[list];
        const block3_list& theirs = master.lists_[list];
        if (blocks.count() < theirs.count()) return false;
        for (int64_t s = list; s < blocks.count(); ++s) {
            const block3_base* m = s < theirs.count() ? theirs.get(s) : nullptr;
            const block3_base* b = blocks.get(s);
            if (m && !b) return false;
            if (b && b->count() != (m ? m->count() : 0)) return false;
        }
    }
    return true;
}

void block3_array_base::removeBlocks(const std::vector<int64_t>& globals) {
    if (globals.empty()) return;
    requireResident();
    const int64_t fineCount = lists_[0].count();
    // From the last to the first, so that earlier indices keep their slots.
    for (auto it = globals.rbegin(); it != globals.rend(); ++it) {
        const int64_t g = *it;
        if (g < 0 || g >= fineCount + lists_[1].count() - 1) continue;
        if (g < fineCount)
            lists_[0].erase(g);
        else
            lists_[1].erase(g - fineCount + 1);
    }
}

template <class Sum, class PerBlock>
Sum block3_array_base::sumOverBlocks(PerBlock perBlock) const {
    const int64_t total = blockCount();
    Sum sum = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : sum) if (total > 64)
    for (int64_t g = 0; g < total; ++g)
        if (const block3_base* b = residentBlock(g)) sum += perBlock(*b);
    return sum;
}

int64_t block3_array_base::elementCount() const {
    return sumOverBlocks<int64_t>([](const block3_base& b) { return b.count(); });
}

float block3_array_base::memoryMB() const {
    return sumOverBlocks<float>([](const block3_base& b) { return b.memoryMB(); });
}

bool block3_array_base::allEmpty() const {
    const int64_t total = blockCount();
    for (int64_t g = 0; g < total; ++g)
        if (const block3_base* b = residentBlock(g); b && !b->empty()) return false;
    return true;
}

bool block3_array_base::statistic(block_statistic which, vec3f& result) const {
    const int64_t total = blockCount();
    const int threads = workerCount(0);
    std::vector<statistic_partial> partials(static_cast<size_t>(threads), statistic_partial(which));
#pragma omp parallel num_threads(threads) if (total > 1)
    {
        statistic_partial mine(which);
#pragma omp for schedule(static)
        for (int64_t g = 0; g < total; ++g)
            if (const block3_base* b = residentBlock(g)) mine.add(*b, which);
        partials[size_t(omp_get_thread_num())] = mine;
    }
    return combinePartials(partials, which, result);
}

// ---------------------------------------------------------------------------
// reblocking

block_move_plan block3_array_base::reblock(const tile_layout3& layout, int threads) {
    if (!dynamic_cast<const block3_array<vec3f>*>(this)) throw ztx::base("Cannot reblock non-3f block array!");
    requireResident();
    const int workers = workerCount(threads);
    const int64_t total = blockCount();
    std::vector<block_move_plan> plans(static_cast<size_t>(workers));
    parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) num_threads(workers) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        errors.capture([&] {
            const auto* b = static_cast<const block3<vec3f>*>(residentBlock(g));
            if (!b) return;
            block_move_plan& plan = plans[size_t(omp_get_thread_num())];
            const vec3i own = b->coord();
            for (int64_t e = 0; e < b->count(); ++e) {
                vec3i voxel;
                if (!layout.voxelAt((*b)[e], 0, voxel)) continue;
                const vec3i t = layout.tileOfVoxel(voxel);
                if (t == own) continue;
                // A particle outside every tile stays in its block.
                const tile3* tile = layout.findTile(t);
                if (!tile) continue;
                const int64_t d = layout.blockIndex(*tile);
                if (d == g) continue;
                if (d < total && residentBlock(d)) {
                    plan.record(g, int(e), d);
                } else {
                    const int64_t slot = tile->isFine() ? d : d - listCount(0) + 1;
                    plan.recordNew(g, int(e), tile_key{t[0], t[1], t[2]}, tile->isCoarse(), slot);
                }
            }
        });
    }
    errors.rethrow();
    for (size_t w = 1; w < plans.size(); ++w) plans[0].merge(std::move(plans[w]));
    return std::move(plans[0]);
}

void block3_array_base::applyMoves(block_move_plan& plan, const block3_array_base& source) {
    requireResident();
    for (auto& [tile, entry] : plan.toNewBlocks) {
        entry.block = newBlock(tile.i, tile.j, tile.k);
        entry.block->reserveMore(entry.moves.count());
    }
    for (const auto& [destination, moves] : plan.toBlocks)
        if (block3_base* b = block(destination)) b->reserveMore(moves.count());
    for (const auto& [destination, moves] : plan.toBlocks) appendFromAt(destination, moves, source);
    for (auto& [tile, entry] : plan.toNewBlocks) appendFrom(*entry.block, entry.moves, source);
}

void block3_array_base::applyRemovals(const block_move_plan& plan) {
    requireResident();
    std::vector<std::pair<int64_t, const array1<int>*>> work;
    work.reserve(plan.removals.size());
    for (const auto& [source, elements] : plan.removals) work.emplace_back(source, &elements);
    const int64_t n = int64_t(work.size());
#pragma omp parallel for schedule(dynamic, 1) if (n > 1)
    for (int64_t r = 0; r < n; ++r) {
        const auto [list, slot] = slotOf(work[size_t(r)].first);
        block3_base* b = isBlockSlot(list, slot) ? lists_[list].get(slot) : nullptr;
        if (b) b->eraseIndices(*work[size_t(r)].second);
    }
}

void block3_array_base::adoptNewBlocks(block_move_plan& plan) {
    for (auto& [tile, entry] : plan.toNewBlocks) {
        if (!entry.block) continue;
        const int list = entry.coarse ? 1 : 0;
        if (isBlockSlot(list, entry.slot) && !lists_[list].get(entry.slot))
            lists_[list].set(entry.slot, std::move(entry.block));
        else
            lists_[list].push_back(std::move(entry.block));
    }
}

// ---------------------------------------------------------------------------
// erase lists

void block3_array_base::addErase(erase_list& list, int64_t g, int e) {
    if (g < 0 || g >= int64_t(list.size())) throw ztx::base("addErase called outside beginErase/endErase block.");
    std::unique_ptr<std::set<int>>& marked = list[size_t(g)];
    if (!marked) marked = std::make_unique<std::set<int>>();
    marked->insert(e);
}

void block3_array_base::eraseMarked(const erase_list& list) {
    requireResident();
    const int64_t n = std::min<int64_t>(int64_t(list.size()), blockCount());
#pragma omp parallel for schedule(dynamic, 1) if (n > 1)
    for (int64_t g = 0; g < n; ++g) {
        if (!list[size_t(g)]) continue;
        const auto [l, slot] = slotOf(g);
        if (block3_base* b = lists_[l].get(slot)) b->eraseSet(*list[size_t(g)]);
    }
}

void block3_array_base::clearEraseList(erase_list& list) {
    const int64_t n = int64_t(list.size());
#pragma omp parallel for schedule(dynamic, 64) if (n > 64)
    for (int64_t g = 0; g < n; ++g) list[size_t(g)].reset();
    erase_list().swap(list);
}

// ---------------------------------------------------------------------------
// file record

compression_buffer block3_array_base::compress(bool compress, int threads) {
    requireResident();
    const int workers = workerCount(threads);
    const int64_t total = blockCount();
    compression_buffer buffer(uint32_t(workers), total);
    parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) num_threads(workers) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        errors.capture([&] {
            const block3_base* b = residentBlock(g);
            const std::span<const uint8_t> bytes = b ? b->elementBytes() : std::span<const uint8_t>();
            const size_t size = b ? b->elementSize() : elementSize();
            buffer.setPieceBytes(g, bytes.data(), size, 0, int64_t(bytes.size() / size), 1, compress);
        });
    }
    errors.rethrow();
    buffer.finish();
    return buffer;
}

void block3_array_base::write(FILE* file, bool compress) {
    Cb::ZtpOutput out(file, fileName_);
    write(out, compress);
}

void block3_array_base::write(Cb::ZtpOutput& out, bool compress) {
    requireResident();
    const int64_t total = blockCount();
    if (total > kMaxGlobalBlocks) throw ztx::base(cat("Cannot write ", total, " particle blocks"));
    const compression_buffer buffer = this->compress(compress, 0);
    array1<uint32_t> tiles(total * kTileStride);
#pragma omp parallel for schedule(static) if (total > 1024)
    for (int64_t g = 0; g < total; ++g) {
        const block3_base* b = residentBlock(g);
        const vec3i c = b ? b->coord() : vec3i{};
        for (int a = 0; a < 3; ++a) tiles[g * kTileStride + a] = uint32_t(c[a]);
    }
    out.writeI32(int32_t(total));
    out.writeI32(int32_t(listCount(0)));
    Cb::writeMarkedArray(tiles, out);
    Cb::writeMarkedArray(buffer.table(), out);
    const int64_t placeholder = out.tell();
    out.writeI64(-1);
    Cb::writeByteArray(buffer.data(), out);
    const int64_t end = out.tell();
    out.seek(placeholder);
    out.writeI64(end);
    out.seek(end);
}

void block3_array_base::readHeader(FILE* file, const std::string& fileName, int32_t version) {
    Cb::ZtpInput in(file, fileName, version);
    readHeader(in);
}

void block3_array_base::checkBlockTable(const std::string& fileName) const {
    const int64_t total = blockCount();
    const uint64_t dataBytes = uint64_t(dataBytes_);
    const uint64_t size = elementSize();
    for (int64_t g = 0; g < total; ++g) {
        const uint64_t offset = pieceField(blockTable_, g, kPieceOffset);
        const uint64_t stored = pieceField(blockTable_, g, kPieceStoredSize);
        const uint64_t raw = pieceField(blockTable_, g, kPieceRawCount);
        if (offset > dataBytes || stored > dataBytes - offset)
            badTable(fileName, cat("block ", g, " lies outside the data region"));
        if (raw == kRawPiece) {
            if (stored % size != 0) badTable(fileName, cat("block ", g, " holds a partial element"));
            if (stored / size > uint64_t(kMaxBlockElements))
                badTable(fileName, cat("block ", g, " holds too many elements"));
        } else if (raw > uint64_t(kMaxBlockElements) || raw > maxInflatedSize(stored) / size) {
            badTable(fileName, cat("block ", g, " announces more elements than its bytes can hold"));
        }
    }
}

void block3_array_base::readHeader(Cb::ZtpInput& in) {
    clear();
    const std::string& fileName = in.name();
    const int32_t total = in.readI32();
    const int32_t fineBlocks = in.readI32();
    if (total < 0 || fineBlocks < 0 || fineBlocks > total)
        badTable(fileName, cat("list counts ", fineBlocks, " of ", total, " blocks"));
    array1<uint32_t> tiles;
    Cb::readMarkedArray(tiles, in);
    if (tiles.count() != int64_t(total) * kTileStride)
        badTable(fileName, cat(tiles.count(), " tile coordinates for ", total, " blocks"));
    array1<uint64_t> table;
    Cb::readMarkedArray(table, in);
    if (table.count() != int64_t(total) * kPieceTableStride)
        badTable(fileName, cat(table.count(), " table values for ", total, " blocks"));
    const int64_t end = in.readI64();
    const int64_t dataPosition = in.tell();
    const int64_t dataBytes = in.readCount("Error reading array size");
    if (dataBytes > in.remaining() || end != dataPosition + kByteCountSize + dataBytes)
        badTable(fileName, cat("the data region of ", dataBytes, " bytes at ", dataPosition,
                               " does not end at ", end, " inside the file"));
    lists_[0].resize(fineBlocks);
    lists_[1].resize(int64_t(total) - fineBlocks + 1);
    tileTable_.swap(tiles);
    blockTable_.swap(table);
    dataBytes_ = dataBytes;
    try {
        checkBlockTable(fileName);
    } catch (...) {
        clear();
        throw;
    }
    in.seek(end);
    dataPosition_ = dataPosition;
    fileName_ = fileName;
    version_ = in.version();
    loadPending_ = true;
}

void block3_array_base::readHeaderLegacy(FILE* file, const std::string& fileName, int32_t version) {
    Cb::ZtpInput in(file, fileName, version);
    readHeaderLegacy(in);
}

void block3_array_base::readHeaderLegacy(Cb::ZtpInput& in) {
    constexpr int32_t kListOneCountVersion = 13;
    clear();
    const std::string& fileName = in.name();
    const int32_t version = in.version();
    const int32_t fineBlocks = in.readI32();
    const int32_t coarseSlots = version == kListOneCountVersion ? in.readI32() : 1;
    if (fineBlocks < 0 || coarseSlots < 1 || int64_t(fineBlocks) + coarseSlots - 1 > kMaxGlobalBlocks)
        badTable(fileName, cat("list counts ", fineBlocks, " and ", coarseSlots));
    array1<int64_t> offsets[2];
    Cb::readLegacyArray(offsets[0], in);
    if (version == kListOneCountVersion)
        Cb::readLegacyArray(offsets[1], in);
    else
        offsets[1].resize(1, 0);
    if (offsets[0].count() != fineBlocks || offsets[1].count() != coarseSlots)
        badTable(fileName, cat(offsets[0].count(), " and ", offsets[1].count(), " block offsets for lists of ",
                               fineBlocks, " and ", coarseSlots, " slots"));
    const int64_t end = in.readI64();
    const int64_t blocksStart = in.tell();
    if (end < blocksStart || end > in.size())
        badTable(fileName, cat("the blocks end at ", end, " outside the file"));
    for (int list = 0; list < 2; ++list) {
        for (int64_t s = list; s < offsets[list].count(); ++s) {
            const int64_t offset = offsets[list][s];
            if (offset < blocksStart || offset > end - kLegacyBlockHeader)
                badTable(fileName, cat("block ", s, " of list ", list, " at ", offset, " lies outside the block data"));
        }
    }
    in.seek(end);
    lists_[0].resize(fineBlocks);
    lists_[1].resize(coarseSlots);
    legacyOffsets_[0].swap(offsets[0]);
    legacyOffsets_[1].swap(offsets[1]);
    fileName_ = fileName;
    version_ = version;
    loadPending_ = true;
}

// ---------------------------------------------------------------------------
// block3_array<T>

template <class T>
void block3_array<T>::setDefaultValue(const T& value) {
    default_ = value;
    for (int list = 0; list < 2; ++list)
        for (int64_t s = list; s < lists_[list].count(); ++s) applyDefault(list, s);
}

template <class T>
void block3_array<T>::appendFrom(block3_base& block, const block_moves& moves,
                                 const block3_array_base& source) const {
    const auto* from = dynamic_cast<const block3_array<T>*>(&source);
    auto* to = dynamic_cast<block3<T>*>(&block);
    if (!from || !to) throw ztx::base("Cannot move particles between channels of different element types");
    if (to->count() + moves.count() > kMaxBlockElements)
        throw ztx::base(cat("Cannot move ", moves.count(), " particles into a block of ", to->count()));
    for (int64_t r = 0; r < moves.count(); ++r) {
        const block3<T>* s = from->residentTypedBlock(moves.blocks[r]);
        const int e = moves.elements[r];
        if (!s || e < 0 || e >= s->count())
            throw ztx::base(cat("Particle channel out of step: block ", moves.blocks[r], " has no element ", e));
        to->append((*s)[e]);
    }
}

template <class T>
void block3_array<T>::appendFromAt(int64_t g, const block_moves& moves, const block3_array_base& source) {
    block3_base* b = block(g);
    if (!b) throw ztx::base(cat("Particle channel out of step: no block ", g));
    appendFrom(*b, moves, source);
}

template class block3_array<int8_t>;
template class block3_array<int>;
template class block3_array<float>;
template class block3_array<vec3i>;
template class block3_array<vec3f>;
template class block3_array<int64_t>;

}  // namespace zt
