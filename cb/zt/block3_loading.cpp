// Deferred loading of a block array's data from its ZTP file: single blocks
// under one process-wide lock, and whole arrays in one pass over the data
// region.
#include "zt/block3_array.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "block3_detail.h"
#include "cb/encoding/CompressedArray.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

namespace zt {

using detail::kByteCountSize;
using detail::kTileStride;

using Lock = std::lock_guard<std::recursive_mutex>;

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
    for (int list = 0; list < 2; ++list) {
        legacyOffsets_[list].clear();
        legacyEnds_[list].clear();
    }
    loadPending_.store(false, std::memory_order_release);
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
    Lock lock(loadMutex_);
    if (!isBlockSlot(list, slot) || lists_[list].get(slot) || !loadPending() || version_ < kBlockTableVersion)
        return;
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
    Lock lock(loadMutex_);
    if (!isBlockSlot(list, slot) || lists_[list].get(slot) || !loadPending() || version_ >= kBlockTableVersion)
        return;
    Cb::ZtpInput& in = openDeferred();
    in.seek(legacyOffsets_[list][slot]);
    std::unique_ptr<block3_base> b = newBlock(0, 0, 0);
    // A block's array may not reach into the next block's bytes: every stored
    // byte inflates into one block only.
    in.setLimit(legacyEnds_[list][slot]);
    try {
        b->readLegacy(in);
    } catch (...) {
        in.setLimit(-1);
        throw;
    }
    in.setLimit(-1);
    if (squeeze) b->squeeze();
    lists_[list].set(slot, std::move(b));
    applyDefault(list, slot);
}

bool block3_array_base::storedBlockInfo(int64_t g, stored_block& info) const {
    Lock lock(loadMutex_);
    if (!loadPending() || g < 0 || g >= blockCount() || residentBlock(g)) return false;
    const auto [list, slot] = slotOf(g);
    if (!isBlockSlot(list, slot)) return false;
    info = stored_block();
    if (version_ >= kBlockTableVersion) {
        const uint64_t raw = pieceField(blockTable_, g, kPieceRawCount);
        const uint64_t stored = pieceField(blockTable_, g, kPieceStoredSize);
        info.tile = tableCoord(g);
        info.compressed = raw != kRawPiece;
        info.elements = int64_t(info.compressed ? raw : stored / elementSize());
        info.storedBytes = int64_t(stored);
        info.fileOffset = dataPosition_ + kByteCountSize + int64_t(pieceField(blockTable_, g, kPieceOffset));
    } else {
        info.fileOffset = legacyOffsets_[list][slot];
    }
    return true;
}

bool block3_array_base::releaseBlock(int64_t g) {
    Lock lock(loadMutex_);
    if (!loadPending() || g < 0 || g >= blockCount()) return false;
    const auto [list, slot] = slotOf(g);
    if (!isBlockSlot(list, slot)) return false;
    lists_[list].set(slot, nullptr);
    return true;
}

void block3_array_base::ensureLoaded() {
    if (loadPending() && loadingAllowed()) loadEverything();
}

void block3_array_base::loadAllBlocks() {
    if (loadPending()) loadEverything();
}

void block3_array_base::loadEverything() {
    Lock lock(loadMutex_);
    // Another thread may have loaded everything while this one waited.
    if (!loadPending()) return;
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
            errors.capture(m, [&] {
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

}  // namespace zt
