#include "cb/encoding/CompressedArray.h"

#include <omp.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "zt/cat.h"
#include "zt/compression_buffer.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

namespace Cb::detail {

namespace {

const char* const kReadFailure = "Error reading compressed array";
const char* const kSizeReadFailure = "Error reading compressed array size";
const char* const kSizeWriteFailure = "Error writing compressed array size";

// Piece tags stay in memory only: full chunks are told from the remainder.
constexpr uint32_t kFullPieceTag = 1;
constexpr uint32_t kRemainderPieceTag = 0;

using Table = zt::array1<uint64_t>;

// Elements a piece fills: a raw piece its whole elements, a zlib piece its
// raw count.
uint64_t pieceElements(const Table& table, int64_t piece, uint64_t elementSize) {
    const uint64_t raw = zt::pieceField(table, piece, zt::kPieceRawCount);
    return raw == zt::kRawPiece ? zt::pieceField(table, piece, zt::kPieceStoredSize) / elementSize : raw;
}

// Every piece is checked before anything is allocated or inflated, so that
// the parallel inflate writes only inside the array and each element once.
void checkPieces(const Table& table, uint64_t dataSize, uint64_t count, uint64_t elementSize) {
    if (table.count() % zt::kPieceTableStride != 0)
        throw ztx::base(
            zt::cat(kReadFailure, ": its piece table holds ", table.count(), " values, not four per piece"));
    const int64_t pieces = table.count() / zt::kPieceTableStride;
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // first element, element count
    spans.reserve(size_t(pieces));
    for (int64_t k = 0; k < pieces; ++k) {
        auto invalid = [k](const char* reason) { return ztx::base(zt::cat(kReadFailure, ": piece ", k, reason)); };
        const uint64_t offset = zt::pieceField(table, k, zt::kPieceOffset);
        const uint64_t stored = zt::pieceField(table, k, zt::kPieceStoredSize);
        const uint64_t raw = zt::pieceField(table, k, zt::kPieceRawCount);
        const uint64_t start = zt::pieceField(table, k, zt::kPieceStart);
        if (offset > dataSize || stored > dataSize - offset) throw invalid(" lies outside the data");
        if (raw == zt::kRawPiece && stored % elementSize != 0) throw invalid(" holds a partial element");
        if (raw != zt::kRawPiece && raw > zt::maxInflatedSize(stored) / elementSize)
            throw invalid(" announces more elements than its bytes can hold");
        const uint64_t elements = pieceElements(table, k, elementSize);
        if (start > count || elements > count - start) throw invalid(" lies outside the array");
        if (elements > 0) spans.emplace_back(start, elements);
    }
    std::sort(spans.begin(), spans.end());
    uint64_t covered = 0;
    uint64_t end = 0;
    for (const auto& [start, elements] : spans) {
        if (start < end) throw ztx::base(zt::cat(kReadFailure, ": two pieces hold element ", start));
        end = start + elements;
        covered += elements;
    }
    if (covered != count)
        throw ztx::base(zt::cat(kReadFailure, ": its pieces hold ", covered, " of ", count, " elements"));
    if (const zt::shared_bytes shared = zt::findSharedBytes(table, pieces); shared.found)
        throw ztx::base(zt::cat(kReadFailure, ": pieces ", shared.first, " and ", shared.second,
                                " share stored bytes"));
}

void inflatePieces(const Table& table, const zt::array1<uint8_t>& data, void* elements, uint64_t elementSize) {
    uint8_t* destination = static_cast<uint8_t*>(elements);
    const int64_t pieces = table.count() / zt::kPieceTableStride;
    zt::parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) if (pieces > 1)
    for (int64_t k = 0; k < pieces; ++k) {
        errors.capture(k, [&] {
            const uint64_t count = pieceElements(table, k, elementSize);
            if (count == 0) return;
            const uint8_t* source = data.data() + zt::pieceField(table, k, zt::kPieceOffset);
            const uint64_t stored = zt::pieceField(table, k, zt::kPieceStoredSize);
            uint8_t* first = destination + zt::pieceField(table, k, zt::kPieceStart) * elementSize;
            if (zt::pieceField(table, k, zt::kPieceRawCount) == zt::kRawPiece)
                std::copy_n(source, stored, first);
            else
                zt::decompressBuffer(source, stored, first, count * elementSize);
        });
    }
    errors.rethrow();
}

}  // namespace

void writeMarkedArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize) {
    out.write(count, kSizeWriteFailure);
    const zt::array1<uint8_t> packed = zt::compressBuffer(elements, uint64_t(count) * elementSize);
    const uint8_t mark = packed.empty() ? 0 : 1;
    out.write(mark, "Error writing compressed array mark");
    if (mark != 0)
        writePlainArray(out, packed.data(), packed.count(), 1);
    else
        writePlainArray(out, elements, count, elementSize);
}

void readMarkedArray(ZtpInput& in, size_t elementSize, const ElementSink& sink) {
    const int64_t count = in.readCount(kSizeReadFailure);
    const uint8_t mark = in.read<uint8_t>(kReadFailure);
    if (mark == 0) {
        // The plain array repeats the count; a disagreement is a damaged file.
        readPlainArray(in, elementSize, [&](int64_t plainCount) {
            if (plainCount != count) throw ztx::base(kSizeReadFailure);
            return sink(count);
        });
        return;
    }
    zt::array1<uint8_t> packed;
    readInto(packed, in, readPlainArray);
    if (uint64_t(count) > zt::maxInflatedSize(uint64_t(packed.count())) / elementSize)
        throw ztx::base(kSizeReadFailure);
    void* destination = sink(count);
    zt::decompressBuffer(packed.data(), uint64_t(packed.count()), destination, uint64_t(count) * elementSize);
}

void writeCompressedArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize, bool compress) {
    out.write(uint8_t(compress ? 1 : 0), "Error writing compressed array");
    if (!compress) {
        writePlainArray(out, elements, count, elementSize);
        return;
    }
    const int64_t fullPieces = count / kCompressedChunkSize;
    const int64_t remainder = count % kCompressedChunkSize;
    const int threads = omp_get_max_threads();
    zt::compression_buffer buffer(uint32_t(threads), fullPieces + (remainder > 0 ? 1 : 0));
    zt::parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) if (fullPieces > 1)
    for (int64_t k = 0; k < fullPieces; ++k) {
        errors.capture(k, [&] {
            buffer.setPieceBytes(k, elements, elementSize, k * kCompressedChunkSize, kCompressedChunkSize,
                                 kFullPieceTag);
        });
    }
    errors.rethrow();
    if (remainder > 0)
        buffer.setPieceBytes(fullPieces, elements, elementSize, fullPieces * kCompressedChunkSize, remainder,
                             kRemainderPieceTag);
    buffer.finish();

    out.write(count, kSizeWriteFailure);
    out.write(kCompressedChunkSize, "Error writing compressed array chunk size");
    writeMarkedArray(out, buffer.table().data(), buffer.table().count(), sizeof(uint64_t));
    writePlainArray(out, buffer.data().data(), buffer.data().count(), 1);
}

void readCompressedArray(ZtpInput& in, size_t elementSize, const ElementSink& sink) {
    const uint8_t mark = in.read<uint8_t>(kReadFailure);
    if (mark == 0) {
        readPlainArray(in, elementSize, sink);
        return;
    }
    const int64_t count = in.readCount(kSizeReadFailure);
    // Every piece carries its own start and size, so the chunk size is not needed.
    in.read<int64_t>("Error reading compressed array chunk size");
    Table table;
    readInto(table, in, readMarkedArray);
    zt::array1<uint8_t> data;
    readInto(data, in, readPlainArray);
    checkPieces(table, uint64_t(data.count()), uint64_t(count), elementSize);
    inflatePieces(table, data, sink(count), elementSize);
}

}  // namespace Cb::detail

namespace Cb {

StoredArrayHead readCompressedArrayHead(ZtpInput& in, size_t elementSize) {
    StoredArrayHead head;
    head.compressed = in.read<uint8_t>(detail::kReadFailure) != 0;
    head.count = in.readCount(detail::kSizeReadFailure);
    if (!head.compressed) {
        if (!in.fits(head.count, int64_t(elementSize))) throw ztx::base(detail::kSizeReadFailure);
        head.bytes = 1 + 8 + head.count * int64_t(elementSize);
    }
    return head;
}

}  // namespace Cb
