// The block array record of ZTP files: compressing the blocks into pieces,
// writing the record, and reading and checking its tables (both layouts).
#include "zt/block3_array.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "block3_detail.h"
#include "cb/encoding/CompressedArray.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

namespace zt {

using detail::badTable;
using detail::kByteCountSize;
using detail::kLegacyBlockHeader;
using detail::kMaxGlobalBlocks;
using detail::kTileStride;
using detail::workerCount;

compression_buffer block3_array_base::compress(bool compress, int threads) {
    requireResident();
    const int workers = workerCount(threads);
    const int64_t total = blockCount();
    compression_buffer buffer(uint32_t(workers), total);
    parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) num_threads(workers) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        errors.capture(g, [&] {
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
    if (const shared_bytes shared = findSharedBytes(blockTable_, total); shared.found)
        badTable(fileName, cat("blocks ", shared.first, " and ", shared.second, " share stored bytes"));
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
    loadPending_.store(true, std::memory_order_release);
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
    // Each block owns the bytes up to the next one: blocks that share bytes
    // would inflate them again and again.
    struct Start {
        int64_t offset;
        int list;
        int64_t slot;
    };
    std::vector<Start> starts;
    for (int list = 0; list < 2; ++list)
        for (int64_t s = list; s < offsets[list].count(); ++s) starts.push_back({offsets[list][s], list, s});
    std::stable_sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.offset < b.offset; });
    array1<int64_t> ends[2] = {array1<int64_t>(offsets[0].count()), array1<int64_t>(offsets[1].count())};
    for (size_t i = 0; i < starts.size(); ++i) {
        const Start& here = starts[i];
        const int64_t next = i + 1 < starts.size() ? starts[i + 1].offset : end;
        if (next - here.offset < kLegacyBlockHeader) {
            const Start& other = starts[i + 1];
            badTable(fileName, cat("block ", here.slot, " of list ", here.list, " at ", here.offset,
                                   " overlaps block ", other.slot, " of list ", other.list, " at ", other.offset));
        }
        ends[here.list][here.slot] = next;
    }
    in.seek(end);
    lists_[0].resize(fineBlocks);
    lists_[1].resize(coarseSlots);
    for (int list = 0; list < 2; ++list) {
        legacyOffsets_[list].swap(offsets[list]);
        legacyEnds_[list].swap(ends[list]);
    }
    fileName_ = fileName;
    version_ = version;
    loadPending_.store(true, std::memory_order_release);
}

}  // namespace zt
