#pragma once
// zt::block3_array_base / zt::block3_array<T>: the blocks of one particle
// channel, one per tile of the body's tile layout, with deferred loading of
// block data from a ZTP file.
//
// Two block lists:
//   list 0  one slot per fine-list slot of the layout;
//   list 1  slot 0 always empty, then one slot per coarse-list slot.
// Global block g is list 0 slot g when g < count(list 0), else list 1 slot
// g - count(list 0) + 1; there are count(list 0) + count(list 1) - 1 blocks.
// A particle index is g << 32 | element.
//
// A null slot is a block not in memory: block(list, slot) loads it when a
// load is pending and returns null only when there is no block. Every other
// operation treats a null slot as an empty block.
//
// Deferred loading: readHeader (version 14 and later) and readHeaderLegacy
// (before) read only the tables and leave the data in the file; the file is
// reopened by name when data is first needed. Loading, of one block or of
// all, happens under the array's load lock and re-checks inside it, so
// threads that touch a waiting array at once load it once and all see the
// loaded blocks; once nothing is pending, an access takes no lock and writes
// nothing. ensureLoaded makes one pass over the data region: raw blocks are read straight into their
// storage; compressed ones in batches of a few megabytes, each batch read
// with one read and inflated in parallel (no copy of the whole region is
// ever held: measured, this is what makes large files load fast). Every table
// read from a file is checked before a block is loaded: a bad entry throws a
// ztx::base naming the file, and nothing is read out of bounds.
//
// Operations that restructure the lists (layout updates, compaction,
// reblocking, mirroring, erasing, writing) first load every block still on
// disk, whatever the loading-allowed flag says: a block left behind would be
// lost or misplaced.
//
// The block array record is read and written through the ZTP stream classes
// (cb/encoding): block storage and the byte layer lean on each other, and
// neither includes anything above them.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zt/array1.h"
#include "zt/block3.h"
#include "zt/block3_list.h"
#include "zt/block_moves.h"
#include "zt/block_statistics.h"
#include "zt/compression_buffer.h"
#include "zt/vec.h"

namespace Cb {
class ZtpInput;
class ZtpOutput;
}  // namespace Cb

namespace zt {

class tile_layout3;
class tile3;

// First ZTP version whose block array record has the block table layout.
constexpr int32_t kBlockTableVersion = 14;

// Where a block still in the file lies, as the array's tables say.
struct stored_block {
    // The tile of the block's table entry (version 14 and later; zero before).
    vec3i tile{};
    // Elements the block holds; -1 when the table does not say (files before
    // version 14 keep the count inside the block).
    int64_t elements = -1;
    // Absolute file offset of the stored bytes (version 14 and later), or of
    // the block's own record (before).
    int64_t fileOffset = -1;
    // Stored size in bytes; -1 before version 14.
    int64_t storedBytes = -1;
    // A zlib stream (version 14 and later); raw elements when false.
    bool compressed = false;
};

class block3_array_base {
public:
    block3_array_base();
    virtual ~block3_array_base();
    block3_array_base& operator=(const block3_array_base&) = delete;

    // Deep copy: blocks cloned, tables, file name, version, data position and
    // pending flag copied; no open file; loading allowed.
    virtual std::unique_ptr<block3_array_base> clone() const = 0;
    // Element count of a block (loading it first); 0 for a null block.
    virtual int64_t blockSize(int list, int64_t slot);
    // Removes element e of global block g (the last element takes its place).
    virtual void eraseElement(int64_t g, int e);
    // One piece per global block, filled in parallel; compress false stores
    // every block raw.
    virtual compression_buffer compress(bool compress, int threads);
    // A new empty block for the tile, with the array's default value.
    virtual std::unique_ptr<block3_base> newBlock(int i, int j, int k) const = 0;
    // Deferred load of one block from a version 14+ file.
    virtual void loadBlock(int list, int64_t slot);
    // Deferred load of one block from an older file.
    virtual void loadBlockLegacy(int list, int64_t slot, bool squeeze);
    // The array's default value becomes the block's.
    virtual void applyDefault(int list, int64_t slot) = 0;
    // Appends to `block` element e of source block s for every (s, e) of
    // `moves`, in order. `source` must hold the same element type.
    virtual void appendFrom(block3_base& block, const block_moves& moves, const block3_array_base& source) const = 0;
    virtual void appendFromAt(int64_t g, const block_moves& moves, const block3_array_base& source) = 0;
    virtual size_t elementSize() const = 0;
    virtual vec3f defaultValue3f() const = 0;

    // --- numbering ---
    int64_t listCount(int list) const { return lists_[list].count(); }
    // count(list 0) + count(list 1) - 1.
    int64_t blockCount() const { return lists_[0].count() + lists_[1].count() - 1; }
    // The (list, slot) of global block g.
    std::pair<int, int64_t> slotOf(int64_t g) const {
        const int64_t n0 = lists_[0].count();
        return g < n0 ? std::pair<int, int64_t>{0, g} : std::pair<int, int64_t>{1, g - n0 + 1};
    }
    int64_t globalIndex(int list, int64_t slot) const { return list == 0 ? slot : slot + lists_[0].count() - 1; }
    // A slot that can hold a block: list 0 from slot 0, list 1 from slot 1.
    bool isBlockSlot(int list, int64_t slot) const {
        return (list == 0 || list == 1) && slot >= (list == 0 ? 0 : 1) && slot < lists_[list].count();
    }

    // --- access ---
    // The block, loading it first when a load is pending; null when the slot
    // has no block or does not exist.
    block3_base* block(int list, int64_t slot);
    block3_base* block(int64_t g) {
        const auto [list, slot] = slotOf(g);
        return g >= 0 ? block(list, slot) : nullptr;
    }
    // The block in memory, never loading; null for a null or missing slot.
    const block3_base* residentBlock(int list, int64_t slot) const {
        return isBlockSlot(list, slot) ? lists_[list].get(slot) : nullptr;
    }
    const block3_base* residentBlock(int64_t g) const {
        const auto [list, slot] = slotOf(g);
        return g >= 0 ? residentBlock(list, slot) : nullptr;
    }

    // --- deferred loading ---
    // Loads every block still on disk, unless nothing is pending or loading
    // is not allowed; afterwards nothing is pending and the file is closed.
    void ensureLoaded();
    void setLoadingAllowed(bool allowed) { loadingAllowed_.store(allowed, std::memory_order_relaxed); }
    bool loadingAllowed() const { return loadingAllowed_.load(std::memory_order_relaxed); }
    // Acquire: a thread that sees false also sees every loaded block.
    bool loadPending() const { return loadPending_.load(std::memory_order_acquire); }
    // Layout version of the deferred data; -1 without.
    int32_t version() const { return version_; }
    const std::string& fileName() const { return fileName_; }
    // Position of the data region's byte count (version 14 and later).
    int64_t dataPosition() const { return dataPosition_; }
    // Loads every block still on disk, whether loading is allowed or not.
    void loadAllBlocks();
    // Where global block g lies in the file; false when it is not waiting
    // there (in memory, no block, or no deferred data). Reads nothing.
    bool storedBlockInfo(int64_t g, stored_block& info) const;
    // Bytes of the data region (version 14 and later; 0 otherwise).
    int64_t storedDataBytes() const { return dataBytes_; }
    // Drops global block g from memory when its data are still in the file,
    // so that the next access loads it again: lets a reader walk a channel a
    // block at a time. False (nothing done) when it could not be reloaded.
    bool releaseBlock(int64_t g);
    // Compressed blocks are read in batches of about this many bytes (a
    // larger block forms a batch of its own), each inflated in parallel.
    static constexpr uint64_t kDefaultLoadBatchBytes = uint64_t(16) << 20;
    void setLoadBatchBytes(uint64_t bytes) { loadBatchBytes_ = bytes; }

    // --- whole-array operations ---
    // Deletes every block, empties both lists (list 1 keeps its slot 0),
    // forgets the deferred data and closes the file.
    void clear();
    // Each list (list 1 from slot 1): walking from the end, every null slot
    // takes the list's last block and the list shrinks. Block order changes;
    // the layout's settle() compacts its lists the same way.
    void compactBlocks();
    // Follows a layout whose lists grew or gained empty slots: promoted tiles
    // take their coarse block along, new tiles get new blocks, blocks of
    // empty slots are deleted.
    void updateLayout(const tile_layout3& layout);
    // Mirrors the master's blocks: lists extended to the master's, every
    // block resized to the element count of the master's block in the same
    // slot (new elements take the default). Lists never shrink. The master's
    // blocks must be in memory.
    void resizeLike(const block3_array_base& master);
    // Appends a block, or an empty slot for null, to a list.
    void appendBlock(int list, std::unique_ptr<block3_base> block) {
        requireResident();
        lists_[list].push_back(std::move(block));
    }
    // True when resizeLike(master) would change nothing.
    bool mirrors(const block3_array_base& master) const;
    // Removes the listed global blocks (given in ascending order) from their
    // lists; the later slots of each list move down.
    void removeBlocks(const std::vector<int64_t>& globals);
    // Sum of the element counts (in parallel); memory of the elements (in
    // block order, so that the float sum is the same on any team).
    int64_t elementCount() const;
    float memoryMB() const;
    // True when no block holds an element.
    bool allEmpty() const;
    // One statistic over the non-empty blocks, combined as the library
    // thread count's workers combine it (see combineBlockStatistics) whatever
    // team computes it; false when no block holds an element.
    bool statistic(block_statistic which, vec3f& result) const;

    // --- reblocking (positions only) ---
    // The moves that bring every particle into the block of its tile, each
    // destination's in source order (block, then element) whatever the team
    // that computed them. Particles outside every tile
    // stay where they are. Throws "Cannot reblock non-3f block array!" unless
    // the elements are vec3f.
    block_move_plan reblock(const tile_layout3& layout, int threads);
    // Carry out a plan on this channel's storage, taking values from `source`.
    void applyMoves(block_move_plan& plan, const block3_array_base& source);
    void applyRemovals(const block_move_plan& plan);
    void adoptNewBlocks(block_move_plan& plan);

    // --- erase lists ---
    // Marks element e of block g. Throws "addErase called outside
    // beginErase/endErase block." when g is not below the list's count.
    static void addErase(erase_list& list, int64_t g, int e);
    // Removes the marked elements of every block, in parallel.
    void eraseMarked(const erase_list& list);
    // Deletes the sets in parallel and empties the list.
    static void clearEraseList(erase_list& list);

    // --- file record ---
    // The version 16 block array record: counts, tile table, block table,
    // end position, data region.
    void write(FILE* file, bool compress);
    void write(Cb::ZtpOutput& out, bool compress);
    // Version 14 and later: reads and checks the tables, then seeks past the
    // data region.
    void readHeader(FILE* file, const std::string& fileName, int32_t version);
    void readHeader(Cb::ZtpInput& in);
    // Before version 14: list counts and block offsets; the blocks stay in
    // the file.
    void readHeaderLegacy(FILE* file, const std::string& fileName, int32_t version);
    void readHeaderLegacy(Cb::ZtpInput& in);

protected:
    // Shares nothing but the deferred data's description; blocks are cloned.
    block3_array_base(const block3_array_base& other);

    // Loads every block still on disk and ends the pending state.
    void loadEverything();
    // Restructuring needs every block in memory.
    void requireResident() {
        if (loadPending()) loadEverything();
    }

    block3_list lists_[2];

private:
    Cb::ZtpInput& openDeferred();
    void closeDeferred() noexcept;
    void endPending() noexcept;
    void loadRemaining();
    void sortByOffset(std::vector<int64_t>& blocks) const;
    void readRawBlocks(Cb::ZtpInput& in, std::vector<int64_t>& missing);
    void decodeBlocks(Cb::ZtpInput& in, std::vector<int64_t>& missing);
    void loadRemainingLegacy();
    std::unique_ptr<block3_base> decodeEntry(int64_t g, const uint8_t* bytes) const;
    template <class Sum, class PerBlock>
    Sum sumOverBlocks(PerBlock perBlock) const;
    vec3i tableCoord(int64_t g) const;
    void checkBlockTable(const std::string& fileName) const;

    // Files before version 14: file offset of every block, per list, and the
    // offset its bytes must end by (the next block's, or the record's end).
    array1<int64_t> legacyOffsets_[2];
    array1<int64_t> legacyEnds_[2];
    // Version 14 and later: 3 tile coordinates and 4 table values per block.
    array1<uint32_t> tileTable_;
    array1<uint64_t> blockTable_;
    std::string fileName_;
    std::unique_ptr<Cb::ZtpInput> file_;
    int32_t version_ = -1;
    // Position of the data region's byte count, and its byte count.
    int64_t dataPosition_ = 0;
    int64_t dataBytes_ = 0;
    uint64_t loadBatchBytes_ = kDefaultLoadBatchBytes;
    std::atomic<bool> loadingAllowed_{true};
    std::atomic<bool> loadPending_{false};
    // Held while blocks are loaded into the lists and while the deferred
    // data are read or dropped; recursive because whole loads call the
    // single-block ones.
    mutable std::recursive_mutex loadMutex_;
};

template <class T>
class block3_array final : public block3_array_base {
public:
    using value_type = T;

    explicit block3_array(const T& defaultValue = T()) : default_(defaultValue) {}

    std::unique_ptr<block3_array_base> clone() const override {
        return std::unique_ptr<block3_array_base>(new block3_array(*this));
    }
    std::unique_ptr<block3_base> newBlock(int i, int j, int k) const override {
        return std::make_unique<block3<T>>(i, j, k, default_);
    }
    void applyDefault(int list, int64_t slot) override {
        if (block3<T>* b = resident(list, slot)) b->setDefaultValue(default_);
    }
    void appendFrom(block3_base& block, const block_moves& moves, const block3_array_base& source) const override;
    void appendFromAt(int64_t g, const block_moves& moves, const block3_array_base& source) override;
    size_t elementSize() const override { return sizeof(T); }
    vec3f defaultValue3f() const override { return widen3f(default_); }

    const T& defaultValue() const { return default_; }
    // Also becomes the default of every block in memory.
    void setDefaultValue(const T& value);

    // The block, loading it when a load is pending; null without one.
    block3<T>* typedBlock(int list, int64_t slot) { return static_cast<block3<T>*>(block(list, slot)); }
    block3<T>* typedBlock(int64_t g) { return static_cast<block3<T>*>(block(g)); }
    const block3<T>* residentTypedBlock(int64_t g) const {
        return static_cast<const block3<T>*>(residentBlock(g));
    }
    // The elements of global block g as one contiguous run (loading the block
    // if needed); empty for a null or missing block.
    std::span<const T> elements(int64_t g) {
        const block3<T>* b = typedBlock(g);
        return b ? std::span<const T>(b->data(), size_t(b->count())) : std::span<const T>();
    }

private:
    block3_array(const block3_array&) = default;
    block3<T>* resident(int list, int64_t slot) {
        return isBlockSlot(list, slot) ? static_cast<block3<T>*>(lists_[list].get(slot)) : nullptr;
    }

    T default_;
};

extern template class block3_array<int8_t>;
extern template class block3_array<int>;
extern template class block3_array<float>;
extern template class block3_array<vec3i>;
extern template class block3_array<vec3f>;
extern template class block3_array<int64_t>;

}  // namespace zt
