// Inspection of stored channel data: heads read through a stream of the
// file's own, statistics walked a block at a time.
#include "cb/io/StoredData.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "cb/encoding/CompressedArray.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "cb/fields/FieldChannel.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ParticleChannel.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// Bytes of a legacy block record in front of its elements: the tile.
constexpr int64_t kLegacyTileBytes = 12;

// Folds one more stored piece into a channel's compression.
void addPiece(StoredCompression& total, bool compressed) {
    const StoredCompression piece = compressed ? StoredCompression::Compressed : StoredCompression::Raw;
    if (total == StoredCompression::None)
        total = piece;
    else if (total != piece && total != StoredCompression::Unknown)
        total = StoredCompression::Mixed;
}

template <class T>
constexpr int componentsOf() {
    return zt::components<T>::value;
}

// Components are widened to double directly: through float, 64-bit ids and
// large integers would lose their low digits.
template <class T>
void accumulate(ChannelStatistics& stats, std::span<const T> values) {
    using Scalar = typename zt::scalar_of<T>::type;
    constexpr int n = componentsOf<T>();
    for (const T& v : values) {
        for (int c = 0; c < n; ++c) {
            Scalar raw;
            if constexpr (zt::is_vec<T>::value)
                raw = v[c];
            else
                raw = v;
            const double x = double(raw);
            stats.sum[size_t(c)] += x;
            if constexpr (std::is_floating_point_v<Scalar>) {
                if (std::isnan(x)) {
                    ++stats.notANumber;
                    continue;
                }
            }
            stats.min[size_t(c)] = std::min(stats.min[size_t(c)], x);
            stats.max[size_t(c)] = std::max(stats.max[size_t(c)], x);
        }
    }
    stats.count += int64_t(values.size());
}

template <class T>
ChannelStatistics startStatistics() {
    ChannelStatistics stats;
    stats.components = componentsOf<T>();
    stats.floating = std::is_floating_point_v<typename zt::scalar_of<T>::type>;
    stats.min.fill(std::numeric_limits<double>::infinity());
    stats.max.fill(-std::numeric_limits<double>::infinity());
    return stats;
}

template <class T>
bool particleStatistics(Channel& channel, ChannelStatistics& stats) {
    auto* typed = dynamic_cast<ParticleChannel<T>*>(&channel);
    if (!typed) return false;
    stats = startStatistics<T>();
    auto& storage = static_cast<zt::block3_array<T>&>(typed->rawStorage());
    zt::stored_block where;
    for (int64_t g = 0; g < storage.blockCount(); ++g) {
        const bool waiting = storage.storedBlockInfo(g, where);
        accumulate(stats, storage.elements(g));
        if (waiting) storage.releaseBlock(g);
    }
    return true;
}

template <class T>
bool bufferStatistics(Channel& channel, ChannelStatistics& stats) {
    const auto* typed = dynamic_cast<const BufferChannel<T>*>(&channel);
    if (!typed) return false;
    stats = startStatistics<T>();
    accumulate(stats, std::span<const T>(typed->data(), size_t(typed->size())));
    return true;
}

template <class T>
void addField(ChannelStatistics& stats, const zt::field3<T>& field, int c) {
    ChannelStatistics one = startStatistics<T>();
    const auto& values = field.fineValues();
    accumulate(one, std::span<const T>(values.data(), size_t(values.count())));
    stats.min[size_t(c)] = one.min[0];
    stats.max[size_t(c)] = one.max[0];
    stats.sum[size_t(c)] = one.sum[0];
    stats.notANumber += one.notANumber;
    stats.count = one.count;
}

bool fieldStatistics(Channel& channel, ChannelStatistics& stats) {
    auto* field = dynamic_cast<FieldChannelBase*>(&channel);
    if (!field) return false;
    const bool fromFile = !field->loaded();
    if (auto* f = dynamic_cast<FieldChannel1f*>(field)) {
        stats = startStatistics<float>();
        addField(stats, f->field(), 0);
    } else if (auto* i = dynamic_cast<FieldChannel1i*>(field)) {
        stats = startStatistics<int>();
        addField(stats, i->field(), 0);
    } else if (auto* l = dynamic_cast<FieldChannel1i64*>(field)) {
        stats = startStatistics<int64_t>();
        addField(stats, l->field(), 0);
    } else if (auto* v = dynamic_cast<FieldChannel3f*>(field)) {
        stats = startStatistics<zt::vec3f>();
        for (int c = 0; c < 3; ++c) addField(stats, v->field(c), c);
    } else {
        return false;
    }
    if (fromFile) field->clear();
    return true;
}

}  // namespace

const char* storedCompressionName(StoredCompression compression) {
    switch (compression) {
        case StoredCompression::None: return "none";
        case StoredCompression::Raw: return "raw";
        case StoredCompression::Compressed: return "compressed";
        case StoredCompression::Mixed: return "mixed";
        case StoredCompression::Unknown: break;
    }
    return "unknown";
}

double ChannelStatistics::mean(int c) const {
    return count > 0 ? sum[size_t(c)] / double(count) : std::numeric_limits<double>::quiet_NaN();
}

StoredDataFile::StoredDataFile(std::string fileName, int32_t version)
    : fileName_(std::move(fileName)), version_(version) {}

StoredDataFile::~StoredDataFile() = default;

ZtpInput& StoredDataFile::input() {
    if (!in_) {
        FilePtr file = openFile(fileName_, "rb");
        if (!file) throw ztx::base(zt::cat("Cannot open ", fileName_, " to read its stored data"));
        in_ = std::make_unique<ZtpInput>(std::move(file), fileName_, version_);
    }
    return *in_;
}

bool StoredDataFile::block(const zt::block3_array_base& storage, int64_t g, zt::stored_block& info) {
    if (!storage.storedBlockInfo(g, info)) return false;
    if (storage.version() >= zt::kBlockTableVersion) return true;
    ZtpInput& in = input();
    in.seek(info.fileOffset);
    info.tile = in.readVec3i();
    const StoredArrayHead head = readLegacyArrayHead(in, storage.elementSize());
    info.elements = head.count;
    info.compressed = head.compressed;
    info.storedBytes = kLegacyTileBytes + head.bytes;
    return true;
}

StoredChannel StoredDataFile::channel(const Channel& channel) {
    StoredChannel stored;
    stored.recordBytes = channel.recordBytes();
    if (const auto* particles = dynamic_cast<const ParticleChannelBase*>(&channel)) {
        const zt::block3_array_base& storage = particles->rawStorage();
        stored.blocks = storage.blockCount();
        stored.elements = 0;
        stored.compression = StoredCompression::None;
        zt::stored_block info;
        for (int64_t g = 0; g < stored.blocks; ++g) {
            if (block(storage, g, info)) {
                stored.elements += info.elements;
                if (info.elements > 0) addPiece(stored.compression, info.compressed);
            } else if (const zt::block3_base* b = storage.residentBlock(g)) {
                // In memory: its count is known, how it was stored is not.
                stored.elements += b->count();
                if (b->count() > 0) stored.compression = StoredCompression::Unknown;
            }
        }
        return stored;
    }
    if (const auto* field = dynamic_cast<const FieldChannelBase*>(&channel)) {
        if (field->valuePositions().empty()) return stored;
        ZtpInput& in = input();
        stored.compression = StoredCompression::None;
        const size_t valueBytes = dynamic_cast<const FieldChannel1i64*>(field) ? sizeof(int64_t) : sizeof(float);
        for (size_t k = 0; k < field->valuePositions().size(); ++k) {
            in.seek(field->valuePositions()[k]);
            const StoredArrayHead head = readCompressedArrayHead(in, valueBytes);
            if (k == 0) stored.elements = head.count;
            if (head.count > 0) addPiece(stored.compression, head.compressed);
        }
        return stored;
    }
    if (const auto* buffer = dynamic_cast<const BufferChannelBase*>(&channel)) {
        stored.elements = int64_t(buffer->size());
        if (channel.recordDataOffset() < 0) return stored;
        // The class data: the default value, then the elements.
        ZtpInput& in = input();
        in.seek(channel.recordDataOffset() + int64_t(buffer->elementBytes()));
        const StoredArrayHead head = version_ >= zt::kBlockTableVersion
                                         ? readCompressedArrayHead(in, buffer->elementBytes())
                                         : readLegacyArrayHead(in, buffer->elementBytes());
        stored.compression = head.count > 0 ? (head.compressed ? StoredCompression::Compressed : StoredCompression::Raw)
                                            : StoredCompression::None;
        return stored;
    }
    return stored;
}

ChannelStatistics computeStatistics(Channel& channel) {
    ChannelStatistics stats;
    const bool known =
        particleStatistics<zt::vec3f>(channel, stats) || particleStatistics<float>(channel, stats) ||
        particleStatistics<int>(channel, stats) || particleStatistics<int64_t>(channel, stats) ||
        particleStatistics<zt::vec3i>(channel, stats) || particleStatistics<int8_t>(channel, stats) ||
        bufferStatistics<zt::vec3f>(channel, stats) || bufferStatistics<float>(channel, stats) ||
        bufferStatistics<int>(channel, stats) || bufferStatistics<int64_t>(channel, stats) ||
        bufferStatistics<zt::vec2i>(channel, stats) || bufferStatistics<zt::vec2f>(channel, stats) ||
        bufferStatistics<zt::vec3i>(channel, stats) || bufferStatistics<zt::vec4i>(channel, stats) ||
        bufferStatistics<zt::vec4f>(channel, stats) || fieldStatistics(channel, stats);
    if (!known)
        throw ztx::base(zt::cat("Cannot compute statistics of channel '", channel.name(), "' of type '",
                                channel.typeName(), "'"));
    // A component that held nothing but NaN has no minimum or maximum.
    for (size_t c = 0; c < size_t(stats.components); ++c)
        if (stats.count > 0 && stats.min[c] > stats.max[c])
            stats.min[c] = stats.max[c] = std::numeric_limits<double>::quiet_NaN();
    return stats;
}

}  // namespace Cb
