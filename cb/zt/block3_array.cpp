#include "zt/block3_array.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "block3_detail.h"
#include "cb/ThreadCount.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace zt {

using detail::workerCount;

namespace {

// Moves ordered by source block, then element.
void sortBySource(block_moves& moves) {
    const int64_t n = moves.count();
    std::vector<std::pair<int, int>> order(static_cast<size_t>(n));
    for (int64_t m = 0; m < n; ++m) order[size_t(m)] = {moves.blocks[m], moves.elements[m]};
    if (std::is_sorted(order.begin(), order.end())) return;
    std::sort(order.begin(), order.end());
    for (int64_t m = 0; m < n; ++m) std::tie(moves.blocks[m], moves.elements[m]) = order[size_t(m)];
}

}  // namespace

// ---------------------------------------------------------------------------
// construction and numbering

block3_array_base::block3_array_base() { lists_[1].resize(1); }

block3_array_base::~block3_array_base() = default;

block3_array_base::block3_array_base(const block3_array_base& other) : loadBatchBytes_(other.loadBatchBytes_) {
    // The source may be loading on another thread: copy what it holds at one moment.
    std::lock_guard<std::recursive_mutex> lock(other.loadMutex_);
    tileTable_ = other.tileTable_;
    blockTable_ = other.blockTable_;
    fileName_ = other.fileName_;
    version_ = other.version_;
    dataPosition_ = other.dataPosition_;
    dataBytes_ = other.dataBytes_;
    loadPending_.store(other.loadPending_.load());
    for (int list = 0; list < 2; ++list) {
        legacyOffsets_[list] = other.legacyOffsets_[list];
        legacyEnds_[list] = other.legacyEnds_[list];
        lists_[list].resize(other.lists_[list].count());
        for (int64_t s = 0; s < other.lists_[list].count(); ++s)
            if (const block3_base* b = other.lists_[list].get(s)) lists_[list].set(s, b->clone());
    }
}

block3_base* block3_array_base::block(int list, int64_t slot) {
    if (!isBlockSlot(list, slot)) return nullptr;
    if (block3_base* b = lists_[list].get(slot)) return b;
    if (!loadPending()) return nullptr;
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
// whole-array operations

void block3_array_base::clear() {
    std::lock_guard<std::recursive_mutex> lock(loadMutex_);
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
    auto dropEmptySlots = [](block3_list& blocks, const array1<tile3*>& tiles, int64_t first) {
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
    if (master.loadPending()) {
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
            errors.capture(s, [&] {
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
    // Whole numbers add up the same in any order; a float sum would round by
    // how the team split the blocks, so it goes in block order.
    constexpr bool exact = std::is_integral_v<Sum>;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : sum) if (exact && total > 64)
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
    // The blocks' own statistics are the work and come out the same on any
    // team; how they combine depends on the worker count, which is the
    // library's, not the machine's.
    std::vector<std::optional<vec3f>> perBlock(static_cast<size_t>(total));
#pragma omp parallel for schedule(dynamic, 1) if (total > 1)
    for (int64_t g = 0; g < total; ++g)
        if (const block3_base* b = residentBlock(g)) perBlock[size_t(g)] = blockStatistic(*b, which);
    return combineBlockStatistics(perBlock, Cb::libraryThreadCount(), which, result);
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
        errors.capture(g, [&] {
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
    // Which worker took which block is a matter of timing: in source order,
    // particles arrive in their new blocks in the order one worker gives.
    for (auto& [destination, moves] : plans[0].toBlocks) sortBySource(moves);
    for (auto& [tile, entry] : plans[0].toNewBlocks) sortBySource(entry.moves);
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
