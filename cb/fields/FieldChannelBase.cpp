#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "cb/encoding/CompressedArray.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// Below this many values the statistics run on the calling thread.
constexpr int64_t kParallelValues = 1 << 16;

enum class Statistic { min, max, mean };

template <class T>
float fineStatistic(const zt::field3<T>& field, Statistic which) {
    const zt::array1<T>& values = field.fineValues();
    const int64_t n = values.count();
    if (n == 0) return float(field.background());
    const T* v = values.data();
    if (which == Statistic::mean) {
        // Runs of a fixed length summed in order: a reduction's rounding would
        // depend on the team size, and the mean is written to files.
        const int64_t runs = (n + kParallelValues - 1) / kParallelValues;
        std::vector<double> sums(static_cast<size_t>(runs), 0.0);
#pragma omp parallel for schedule(static) if (runs > 1)
        for (int64_t r = 0; r < runs; ++r) {
            const int64_t end = std::min(n, (r + 1) * kParallelValues);
            double sum = 0.0;
            for (int64_t i = r * kParallelValues; i < end; ++i) sum += double(v[i]);
            sums[size_t(r)] = sum;
        }
        double sum = 0.0;
        for (const double part : sums) sum += part;
        return float(sum / double(n));
    }
    if (which == Statistic::min) {
        float least = std::numeric_limits<float>::max();
#pragma omp parallel for reduction(min : least) if (n > kParallelValues)
        for (int64_t i = 0; i < n; ++i) least = std::min(least, float(v[i]));
        return least;
    }
    float most = std::numeric_limits<float>::lowest();
#pragma omp parallel for reduction(max : most) if (n > kParallelValues)
    for (int64_t i = 0; i < n; ++i) most = std::max(most, float(v[i]));
    return most;
}

// Background, sample set, end position (patched once the values are out),
// fine values, coarse values.
template <class T>
void writeFieldRecord(ZtpWriter& writer, const zt::field3<T>& field, bool compress) {
    ZtpOutput& out = writer.stream();
    out.write(field.background());
    out.writeI32(field.sampleSet());
    const int64_t patchAt = writer.tell();
    out.writeI64(-1);
    writeCompressedArray(field.fineValues(), out, compress);
    writeCompressedArray(field.coarseValues(), out, compress);
    const int64_t end = writer.tell();
    writer.seek(patchAt);
    out.writeI64(end);
    writer.seek(end);
}

// The head of a field values record; the values are skipped. Returns where
// they start; `end` receives where the record ends.
template <class T>
int64_t readFieldRecordHead(ZtpInput& in, zt::field3<T>& field, int64_t& end) {
    const T background = in.read<T>();
    const int32_t sampleSet = in.readI32();
    end = in.readI64();
    const int64_t valuesAt = in.tell();
    if (end < valuesAt || end > in.size())
        throw ztx::base(zt::cat("Corrupt field values record in ", in.name(), ": end position ", end,
                                " lies outside ", valuesAt, "..", in.size()));
    field.setSampleSet(sampleSet);
    field.setBackground(background);
    field.fineValues().clear();
    field.coarseValues().clear();
    in.seek(end);
    return valuesAt;
}

template <class T>
void readFieldValues(ZtpInput& in, zt::field3<T>& field, int64_t end) {
    readCompressedArray(field.fineValues(), in);
    readCompressedArray(field.coarseValues(), in);
    if (in.tell() > end)
        throw ztx::base(zt::cat("Corrupt field values in ", in.name(), ": the values run past their record's end at ",
                                end));
}

}  // namespace

FieldChannelBase::FieldChannelBase() : lock_(std::make_unique<zt::omp_lock>()) {}

FieldChannelBase::FieldChannelBase(const FieldChannelBase& other)
    : Channel(other),
      file_(other.file_ ? std::make_unique<std::string>(*other.file_) : nullptr),
      loaded_(other.loaded_.load(std::memory_order_acquire)),
      fileVersion_(other.fileVersion_),
      updateMode_(other.updateMode_),
      attribute_(other.attribute_),
      lock_(std::make_unique<zt::omp_lock>()),
      valuePositions_(other.valuePositions_),
      endPositions_(other.endPositions_),
      slots_(other.slots_) {
    std::copy_n(other.flags_, kFieldFlagCount, flags_);
}

FieldChannelBase::~FieldChannelBase() = default;

template <class F>
void FieldChannelBase::forEachField(F&& f) const {
    for (int k = 0; k < valueFieldCount(); ++k) std::visit([&](auto* field) { f(field, k); }, valueField(k));
}

int FieldChannelBase::fieldOfComponent(int c) const {
    const int count = valueFieldCount();
    if (count == 1) return 0;
    return c >= 0 && c < count ? c : -1;
}

uint64_t FieldChannelBase::size() const {
    ensureLoaded();
    return std::visit([](auto* field) { return uint64_t(field->fineValues().count()); }, valueField(0));
}

float FieldChannelBase::memoryMB() const {
    double bytes = 0.0;
    forEachField([&](auto* field, int) {
        bytes += double(field->fineValues().capacity()) * double(sizeof(field->background()));
    });
    return float(bytes * 1e-6);
}

bool FieldChannelBase::empty() const { return size() == 0; }

zt::vec3f FieldChannelBase::defaultValue3f() const {
    zt::vec3f result{0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        const int k = fieldOfComponent(c);
        if (k >= 0) result[c] = std::visit([](auto* field) { return float(field->background()); }, valueField(k));
    }
    return result;
}

zt::vec3f FieldChannelBase::statistic(int which) const {
    ensureLoaded();
    zt::vec3f result{0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        const int k = fieldOfComponent(c);
        if (k >= 0)
            result[c] = std::visit([which](auto* field) { return fineStatistic(*field, Statistic(which)); },
                                   valueField(k));
    }
    return result;
}

zt::vec3f FieldChannelBase::min3f() const { return statistic(int(Statistic::min)); }
zt::vec3f FieldChannelBase::max3f() const { return statistic(int(Statistic::max)); }
zt::vec3f FieldChannelBase::mean3f() const { return statistic(int(Statistic::mean)); }

zt::vec3f FieldChannelBase::position3f(int64_t, const Channel*) const {
    throw ztx::base("Invalid reference to Field.position");
}

float FieldChannelBase::component(int64_t index, int c) const {
    ensureLoaded();
    const int k = fieldOfComponent(c);
    if (k < 0) return 0.0f;
    return std::visit(
        [&](auto* field) {
            if (!field->contains(index))
                throw ztx::base(zt::cat("Voxel index ", index, " is not held by field-channel '", name(), "' (",
                                        field->fineValues().count(), " fine and ", field->coarseValues().count(),
                                        " coarse values)"));
            return float(field->at(index));
        },
        valueField(k));
}

float FieldChannelBase::sample(const zt::vec3f& position, const zt::tile_layout3* layout, int c) const {
    ensureLoaded();
    const int k = fieldOfComponent(c);
    if (k < 0) return 0.0f;
    return std::visit(
        [&](auto* field) {
            if (!layout) return float(field->background());
            return float(field->sample(position, *layout));
        },
        valueField(k));
}

void FieldChannelBase::updateLayout(const zt::tile_layout3& layout) {
    ensureLoaded();
    forEachField([&](auto* field, int) { field->resize(layout); });
    slots_ = SlotReport();
    if (!layout.hasEmptyFineSlots() && !layout.hasEmptyCoarseSlots()) return;
    slots_.fineSlots = layout.fineCount();
    slots_.coarseSlots = layout.coarseCount();
    slots_.voxelsPerTile = layout.voxelsPerTile();
    for (int64_t k = layout.fineCount() - 1; k >= 0; --k)
        if (!layout.fineTile(k)) slots_.emptyFine.push_back(k);
    for (int64_t k = layout.coarseCount() - 1; k >= 1; --k)
        if (!layout.coarseTile(k)) slots_.emptyCoarse.push_back(k);
}

void FieldChannelBase::compactBlocks() {
    ensureLoaded();
    forEachField([&](auto* field, int) { compactField(*field); });
    slots_ = SlotReport();
}

void FieldChannelBase::write(ZtpWriter& writer, bool compress) {
    ensureLoaded();
    writeHeader(writer);
    ZtpOutput& out = writer.stream();
    out.writeI32(updateMode_);
    out.writeI32(flags_[kFieldFlagA] ? 1 : 0);
    out.writeI32(0);
    for (const FieldFlag f : {kFieldFlagB, kFieldFlagC, kFieldFlagD, kFieldFlagE}) out.writeI32(flags_[f] ? 1 : 0);
    out.writeF32(attribute_);
    forEachField([&](auto* field, int) { writeFieldRecord(writer, *field, compress); });
}

void FieldChannelBase::read(ZtpReader& reader) {
    ZtpInput& in = reader.stream();
    const int32_t version = reader.version();
    auto readFlag = [&in] { return uint8_t(in.readI32() != 0 ? 1 : 0); };
    if (version >= kFieldModeVersion) {
        updateMode_ = in.readI32();
        flags_[kFieldFlagA] = readFlag();
        in.readI32();  // carried for older readers, always 0
        flags_[kFieldFlagB] = readFlag();
        flags_[kFieldFlagC] = readFlag();
    }
    if (version >= kFieldAttributeVersion) {
        flags_[kFieldFlagD] = readFlag();
        flags_[kFieldFlagE] = readFlag();
        attribute_ = in.readF32();
    }
    const size_t fieldCount = size_t(valueFieldCount());
    std::vector<int64_t> valuePositions(fieldCount);
    std::vector<int64_t> endPositions(fieldCount);
    forEachField([&](auto* field, int k) {
        valuePositions[size_t(k)] = readFieldRecordHead(in, *field, endPositions[size_t(k)]);
    });
    // Only a complete record links the channel to its file.
    file_ = std::make_unique<std::string>(reader.fileName());
    fileVersion_ = uint32_t(version);
    loaded_.store(0, std::memory_order_release);
    valuePositions_ = std::move(valuePositions);
    endPositions_ = std::move(endPositions);
    slots_ = SlotReport();
    backgroundRead();
}

void FieldChannelBase::clear() {
    forEachField([](auto* field, int) {
        field->fineValues().clear();
        field->coarseValues().clear();
    });
    file_.reset();
    valuePositions_.clear();
    endPositions_.clear();
    slots_ = SlotReport();
}

FilePtr FieldChannelBase::openFile() const {
    const std::string name = file_ ? *file_ : std::string();
    FilePtr file = Cb::openFile(name, "rb");
    if (!file) {
        const int error = errno;
        throw ztx::base(zt::cat("read_ztp(", name, ") failed: Cannot open file: ", std::strerror(error)));
    }
    return file;
}

void FieldChannelBase::ensureLoaded() const {
    if (loaded()) return;
    std::lock_guard<zt::omp_lock> guard(*lock_);
    if (loaded()) return;
    loadValues();
    loaded_.store(1, std::memory_order_release);
}

void FieldChannelBase::loadValues() const {
    ZtpInput in(openFile(), *file_, int32_t(fileVersion_));
    try {
        forEachField([&](auto* field, int k) {
            in.seek(valuePositions_[size_t(k)]);
            readFieldValues(in, *field, endPositions_[size_t(k)]);
        });
    } catch (...) {
        // Still unloaded: no field keeps part of the values.
        forEachField([](auto* field, int) {
            field->fineValues().clear();
            field->coarseValues().clear();
        });
        throw;
    }
}

}  // namespace Cb
