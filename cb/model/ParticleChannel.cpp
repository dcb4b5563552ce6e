#include "cb/model/ParticleChannel.h"

#include <cmath>
#include <limits>
#include <vector>

#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelElement.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// Files from this version on keep the id channel's next id.
constexpr int32_t kNextIdVersion = 15;

zt::vec3f statisticOf(const zt::block3_array_base& storage, zt::block_statistic which, const zt::vec3f& fallback) {
    zt::vec3f result;
    return storage.statistic(which, result) ? result : fallback;
}

}  // namespace

// ---------------------------------------------------------------------------
// ParticleChannelBase

ParticleChannelBase::ParticleChannelBase(std::unique_ptr<zt::block3_array_base> storage)
    : storage_(std::move(storage)) {}

ParticleChannelBase::ParticleChannelBase(const ParticleChannelBase& other)
    : Channel(other), storage_(other.storage_->clone()) {}

ParticleChannelBase::~ParticleChannelBase() = default;

void ParticleChannelBase::makeResident() const {
    // Once loaded, every element read passes here: a plain read, no shared write.
    if (!storage_->loadPending()) return;
    storage_->setLoadingAllowed(deferredLoadSuppressed() == 0);
    storage_->ensureLoaded();
}

zt::block3_array_base& ParticleChannelBase::storage() {
    makeResident();
    beforeChange();
    return *storage_;
}

const zt::block3_array_base& ParticleChannelBase::storage() const {
    makeResident();
    return *storage_;
}

uint64_t ParticleChannelBase::size() const { return uint64_t(storage().elementCount()); }

float ParticleChannelBase::memoryMB() const { return storage().memoryMB(); }

bool ParticleChannelBase::empty() const { return storage().allEmpty(); }

zt::vec3f ParticleChannelBase::min3f() const {
    return statisticOf(storage(), zt::block_statistic::min, defaultValue3f());
}

zt::vec3f ParticleChannelBase::max3f() const {
    return statisticOf(storage(), zt::block_statistic::max, defaultValue3f());
}

zt::vec3f ParticleChannelBase::mean3f() const {
    return statisticOf(storage(), zt::block_statistic::mean, defaultValue3f());
}

float ParticleChannelBase::sample(const zt::vec3f&, const zt::tile_layout3*, int) const {
    throw ztx::base("Particle-Channel sampling not yet implemented.");
}

void ParticleChannelBase::updateLayout(const zt::tile_layout3& layout) { storage().updateLayout(layout); }

void ParticleChannelBase::compactBlocks() { storage().compactBlocks(); }

void ParticleChannelBase::loadAllBlocks() { storage_->loadAllBlocks(); }

void ParticleChannelBase::clear() { storage_->clear(); }

void ParticleChannelBase::resizeLike(const zt::block3_array_base& master) { storage().resizeLike(master); }

std::span<const uint8_t> ParticleChannelBase::blockBytes(int64_t g) const {
    makeResident();
    const zt::block3_base* b = storage_->block(g);
    return b ? b->elementBytes() : std::span<const uint8_t>();
}

const zt::block3_base& ParticleChannelBase::locate(int64_t index, int64_t& element) const {
    makeResident();
    const int64_t g = index >> 32;
    element = int64_t(int32_t(uint32_t(index)));
    const zt::block3_base* b = storage_->block(g);
    if (!b || element < 0 || element >= b->count())
        throw ztx::base(zt::cat("Particle index ", index, " (block ", g, ", element ", element,
                                ") out of range in particle channel '", name(), "'"));
    return *b;
}

// ---------------------------------------------------------------------------
// ParticleChannel<T>

template <class T>
ParticleChannel<T>::ParticleChannel() : ParticleChannel(T{}) {}

template <class T>
ParticleChannel<T>::ParticleChannel(const T& defaultValue)
    : ParticleChannelBase(std::make_unique<zt::block3_array<T>>(defaultValue)), default_(defaultValue) {}

template <class T>
ParticleChannel<T>::ParticleChannel(const ParticleChannel& other)
    : ParticleChannelBase(other), default_(other.default_) {}

template <class T>
const char* ParticleChannel<T>::staticTypeName() {
    static const std::string name = std::string("particle::") + ChannelElement<T>::word;
    return name.c_str();
}

template <class T>
std::string ParticleChannel<T>::typeName() const {
    return staticTypeName();
}

template <class T>
int ParticleChannel<T>::typeCode() const {
    return ChannelElement<T>::code;
}

template <class T>
Channel* ParticleChannel<T>::clone() const {
    return new ParticleChannel<T>(*this);
}

template <class T>
zt::vec3f ParticleChannel<T>::defaultValue3f() const {
    return zt::widen3f(default_);
}

template <class T>
T ParticleChannel<T>::value(int64_t index) const {
    int64_t element = 0;
    const zt::block3_base& b = locate(index, element);
    return static_cast<const zt::block3<T>&>(b)[element];
}

template <class T>
zt::vec3f ParticleChannel<T>::position3f(int64_t index, const Channel*) const {
    if constexpr (std::is_same_v<T, zt::vec3f>) {
        return value(index);
    } else {
        (void)index;
        throw ztx::base("Invalid reference to Particle.position");
    }
}

template <class T>
float ParticleChannel<T>::component(int64_t index, int c) const {
    return elementComponent(value(index), c);
}

template <class T>
void ParticleChannel<T>::setDefaultValue(const T& value) {
    default_ = value;
    typedStorage().setDefaultValue(value);
}

template <class T>
void ParticleChannel<T>::write(ZtpWriter& writer, bool compress) {
    // The header's count and statistics must describe every block written.
    storage_->loadAllBlocks();
    writeHeader(writer);
    ZtpOutput& out = writer.stream();
    out.write(default_);
    storage_->write(out, compress);
}

template <class T>
void ParticleChannel<T>::read(ZtpReader& reader) {
    ZtpInput& in = reader.stream();
    const T defaultValue = in.read<T>();
    storage_->clear();
    setDefaultValue(defaultValue);
    if (reader.version() >= zt::kBlockTableVersion)
        storage_->readHeader(in.file(), reader.fileName(), reader.version());
    else
        storage_->readHeaderLegacy(in.file(), reader.fileName(), reader.version());
}

template class ParticleChannel<int8_t>;
template class ParticleChannel<int>;
template class ParticleChannel<float>;
template class ParticleChannel<zt::vec3i>;
template class ParticleChannel<zt::vec3f>;
template class ParticleChannel<int64_t>;

// ---------------------------------------------------------------------------
// ParticleChannelId64

ParticleChannelId64::ParticleChannelId64() : ParticleChannelId64(0) {}

ParticleChannelId64::ParticleChannelId64(int64_t defaultValue) : ParticleChannel<int64_t>(defaultValue) {
    setName("id64");
}

Channel* ParticleChannelId64::clone() const { return new ParticleChannelId64(*this); }

void ParticleChannelId64::beforeChange() {
    if (!continueFromMax_) return;
    continueFromMax_ = false;
    // The largest id through float, truncated; an id beyond the 64-bit range
    // cannot be continued.
    const float largest = max3f()[0];
    constexpr float kLimit = 9.2233720e18f;
    nextId_ = std::isfinite(largest) && std::fabs(largest) < kLimit ? int64_t(largest) : 0;
}

int64_t ParticleChannelId64::nextId() {
    beforeChange();
    return nextId_;
}

void ParticleChannelId64::write(ZtpWriter& writer, bool compress) {
    const int64_t next = nextId();
    ParticleChannel<int64_t>::write(writer, compress);
    writer.stream().writeI64(next);
}

void ParticleChannelId64::read(ZtpReader& reader) {
    ParticleChannel<int64_t>::read(reader);
    if (reader.version() >= kNextIdVersion) {
        setNextId(reader.stream().readI64());
    } else {
        nextId_ = 0;
        continueFromMax_ = true;
    }
}

void ParticleChannelId64::resizeLike(const zt::block3_array_base& master) {
    zt::block3_array<int64_t>& ids = blocks();
    const int64_t oldTotal = ids.blockCount();
    std::vector<int64_t> oldCounts(static_cast<size_t>(oldTotal), 0);
    for (int64_t g = 0; g < oldTotal; ++g)
        if (const zt::block3_base* b = ids.residentBlock(g)) oldCounts[size_t(g)] = b->count();
    ids.resizeLike(master);
    for (int64_t g = 0; g < ids.blockCount(); ++g) {
        zt::block3<int64_t>* b = ids.typedBlock(g);
        if (!b) continue;
        for (int64_t e = g < oldTotal ? oldCounts[size_t(g)] : 0; e < b->count(); ++e) (*b)[e] = nextId_++;
    }
}

// ---------------------------------------------------------------------------
// ParticleChannelDroplet

ParticleChannelDroplet::ParticleChannelDroplet() : ParticleChannelDroplet(0.0f) {}

ParticleChannelDroplet::ParticleChannelDroplet(float defaultValue) : ParticleChannel<float>(defaultValue) {
    setName("droplet");
}

Channel* ParticleChannelDroplet::clone() const { return new ParticleChannelDroplet(*this); }

void ParticleChannelDroplet::updateFromBody(const FrameTime& time, const Body& body) {
    threshold_ = float(body.valueNumber("Droplet Threshold", time, threshold_));
    mergebackDepth_ = float(body.valueNumber("Droplet Mergeback Depth", time, mergebackDepth_));
}

}  // namespace Cb
