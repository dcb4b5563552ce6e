#include "cb/model/ParticleShape.h"

#include <vector>

#include "cb/model/Ztd.h"
#include "zt/block3_tiles.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

const char* const kPosition = "position";

[[noreturn]] void notParticleChannel(const Channel& channel, const std::string& shapeName) {
    throw ztx::base(zt::cat("Cannot keep channel '", channel.name(), "' (", channel.typeName(), ") of ", shapeName,
                            "-Shape in step with its particles: not a particle channel"));
}

bool exportable(int typeCode) {
    switch (typeCode) {
        case kTypeInt8:
        case kTypeInt:
        case kTypeFloat:
        case kTypeVec3f:
        case kTypeVec3i:
        case kTypeInt64: return true;
        default: return false;
    }
}

// p (as a row vector) times the matrix; the translation only when asked.
zt::vec3f transformed(const zt::vec3f& p, const float m[16], bool translate) {
    const float t = translate ? 1.0f : 0.0f;
    return {{p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + t * m[12], p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + t * m[13],
             p[0] * m[2] + p[1] * m[6] + p[2] * m[10] + t * m[14]}};
}

}  // namespace

ParticleShape::ParticleShape(bool withMaster) : Shape("Particle") {
    if (withMaster) createChannel3f(kPosition, zt::vec3f{{0, 0, 0}});
}

ParticleShape::ParticleShape(const ParticleShape& other) : Shape(other), holdsParticles_(other.holdsParticles_) {}

Shape* ParticleShape::clone() const { return new ParticleShape(*this); }

ParticleChannel<zt::vec3f>* ParticleShape::positions() {
    const int p = indexOf(kPosition);
    return p < 0 ? nullptr : dynamic_cast<ParticleChannel<zt::vec3f>*>(channels_[size_t(p)].get());
}

const ParticleChannel<zt::vec3f>* ParticleShape::positions() const {
    const int p = indexOf(kPosition);
    return p < 0 ? nullptr : dynamic_cast<const ParticleChannel<zt::vec3f>*>(channels_[size_t(p)].get());
}

int64_t ParticleShape::size() const {
    const int p = indexOf(kPosition);
    return p < 0 ? 0 : int64_t(channels_[size_t(p)]->size());
}

bool ParticleShape::empty() const {
    const int p = indexOf(kPosition);
    return p < 0 || channels_[size_t(p)]->empty();
}

Channel* ParticleShape::masterChannel() const {
    const int p = indexOf(kPosition);
    return p < 0 ? nullptr : channels_[size_t(p)].get();
}

void ParticleShape::adoptMaster(const Shape& other) {
    const ChannelHandle& theirs = other.channel(kPosition);
    const int mine = indexOf(kPosition);
    if (mine < 0)
        channels_.insert(channels_.begin(), theirs);
    else
        channels_[size_t(mine)] = theirs;
}

ParticleChannelBase& ParticleShape::particleChannel(int i) {
    Channel* channel = channels_[size_t(i)].mutableGet();
    auto* particles = dynamic_cast<ParticleChannelBase*>(channel);
    if (!particles) notParticleChannel(*channel, name_);
    return *particles;
}

zt::block3_array<zt::vec3f>& ParticleShape::positionBlocks() {
    channelAs<ParticleChannel<zt::vec3f>>(kPosition);
    return static_cast<ParticleChannel<zt::vec3f>&>(particleChannel(indexOf(kPosition))).blocks();
}

// ---------------------------------------------------------------------------
// channels

template <class C, class T>
Channel* ParticleShape::addChannel(const std::string& name, const T& defaultValue) {
    ChannelHandle handle(new C(defaultValue));
    handle->setName(name);
    return appendChannel(std::move(handle));
}

Channel* ParticleShape::createChannel1f(const std::string& name, float defaultValue) {
    if (channelPart(name) == "droplet") return appendChannel(ChannelHandle(new ParticleChannelDroplet(defaultValue)));
    return addChannel<ParticleChannel<float>>(name, defaultValue);
}

Channel* ParticleShape::createChannel1i(const std::string& name, int defaultValue) {
    return addChannel<ParticleChannel<int>>(name, defaultValue);
}

Channel* ParticleShape::createChannel1i64(const std::string& name, int64_t defaultValue) {
    if (channelPart(name) == "id64") return appendChannel(ChannelHandle(new ParticleChannelId64(defaultValue)));
    return addChannel<ParticleChannel<int64_t>>(name, defaultValue);
}

Channel* ParticleShape::createChannel3f(const std::string& name, const zt::vec3f& defaultValue) {
    return addChannel<ParticleChannel<zt::vec3f>>(name, defaultValue);
}

Channel* ParticleShape::createChannel3i(const std::string& name, const zt::vec3i& defaultValue) {
    return addChannel<ParticleChannel<zt::vec3i>>(name, defaultValue);
}

Channel* ParticleShape::createChannel1i8(const std::string& name, int8_t defaultValue) {
    return addChannel<ParticleChannel<int8_t>>(name, defaultValue);
}

void ParticleShape::syncChannels() {
    const int p = indexOf(kPosition);
    if (p < 0) return;
    if (!dynamic_cast<const ParticleChannelBase*>(channels_[size_t(p)].get()))
        notParticleChannel(*channels_[size_t(p)], name_);
    static_cast<const ParticleChannelBase&>(*channels_[size_t(p)]).makeResident();
    endErase();
    // Taken after the erase, which may have detached the positions.
    const auto& master = static_cast<const ParticleChannelBase&>(*channels_[size_t(p)]).storage();
    for (int i = 0; i < channelCount(); ++i) {
        if (i == p) continue;
        const auto* follower = dynamic_cast<const ParticleChannelBase*>(channels_[size_t(i)].get());
        if (!follower) notParticleChannel(*channels_[size_t(i)], name_);
        if (follower->storage().mirrors(master)) continue;
        particleChannel(i).resizeLike(master);
    }
}

// ---------------------------------------------------------------------------
// erasing

void ParticleShape::beginErase() {
    const ParticleChannel<zt::vec3f>* pos = positions();
    const int64_t blocks = pos ? pos->storage().blockCount() : 0;
    eraseList_ = zt::erase_list(size_t(blocks));
}

void ParticleShape::addErase(int64_t g, int e) { zt::block3_array_base::addErase(eraseList_, g, e); }

void ParticleShape::endErase() {
    if (eraseList_.empty()) return;
    for (int i = 0; i < channelCount(); ++i) particleChannel(i).storage().eraseMarked(eraseList_);
    zt::block3_array_base::clearEraseList(eraseList_);
}

// ---------------------------------------------------------------------------
// reblocking

void ParticleShape::removeEmptyBlocks() {
    holdsParticles_ = false;
    const int p = indexOf(kPosition);
    if (p < 0) return;
    const zt::block3_array_base& master = particleChannel(p).storage();
    std::vector<int64_t> empty;
    for (int64_t g = 0; g < master.blockCount(); ++g) {
        const zt::block3_base* b = master.residentBlock(g);
        if (!b) continue;
        if (b->empty())
            empty.push_back(g);
        else
            holdsParticles_ = true;
    }
    if (empty.empty()) return;
    for (int i = 0; i < channelCount(); ++i) particleChannel(i).storage().removeBlocks(empty);
}

void ParticleShape::reblock(zt::tile_layout3& layout, uint32_t flags) {
    positionBlocks().loadAllBlocks();
    for (int i = 0; i < channelCount(); ++i) particleChannel(i).setDeferredLoadSuppressed(0);
    syncChannels();
    if (flags & kReblockRemoveEmptyBlocks) {
        removeEmptyBlocks();
        layout.reset(-1.0f, -1);
    }
    const int d = indexOf("droplet");
    const ParticleChannelDroplet* droplet =
        d >= 0 && channels_[size_t(d)]->typeCode() == kTypeFloat
            ? dynamic_cast<const ParticleChannelDroplet*>(channels_[size_t(d)].get())
            : nullptr;
    zt::buildFromParticles(layout, positionBlocks(), (flags & kReblockWithoutMirror) == 0,
                           droplet ? &droplet->blocks() : nullptr, droplet ? droplet->threshold() : 0.0f);
    updateLayout(layout);
    zt::block_move_plan plan = positionBlocks().reblock(layout, 0);
    for (int i = 0; i < channelCount(); ++i) {
        zt::block3_array_base& storage = particleChannel(i).storage();
        storage.applyMoves(plan, storage);
        storage.applyRemovals(plan);
        storage.adoptNewBlocks(plan);
    }
}

// ---------------------------------------------------------------------------
// transform, digest, export

void ParticleShape::applyTransform(const float m[16]) {
    channelAs<ParticleChannel<zt::vec3f>>(kPosition);
    channelAs<ParticleChannel<zt::vec3f>>("velocity");
    zt::block3_array<zt::vec3f>& positions = mutableChannelAs<ParticleChannel<zt::vec3f>>(kPosition)->blocks();
    zt::block3_array<zt::vec3f>& velocities = mutableChannelAs<ParticleChannel<zt::vec3f>>("velocity")->blocks();
    const int64_t total = positions.blockCount();
    zt::parallel_errors errors;
#pragma omp parallel for schedule(dynamic, 1) if (total > 1)
    for (int64_t g = 0; g < total; ++g) {
        errors.capture(g, [&] {
            zt::block3<zt::vec3f>* p = positions.typedBlock(g);
            if (!p) return;
            zt::block3<zt::vec3f>* v = velocities.typedBlock(g);
            const int64_t moving = v ? std::min(v->count(), p->count()) : 0;
            for (int64_t e = 0; e < p->count(); ++e) (*p)[e] = transformed((*p)[e], m, true);
            for (int64_t e = 0; e < moving; ++e) (*v)[e] = transformed((*v)[e], m, false);
        });
    }
    errors.rethrow();
}

Md5Digest ParticleShape::masterDigest() const {
    Md5 md5;
    if (indexOf(kPosition) < 0) return md5.finish();
    const ParticleChannel<zt::vec3f>* pos = channelAs<ParticleChannel<zt::vec3f>>(kPosition);
    pos->makeResident();
    const int64_t total = pos->rawStorage().blockCount();
    for (int64_t g = 0; g < total; ++g) {
        const std::span<const uint8_t> bytes = pos->blockBytes(g);
        md5.update(bytes.data(), bytes.size());
    }
    return md5.finish();
}

void ParticleShape::pushZtdBody(ztd::body& body) {
    // Every channel is checked before the body changes.
    std::vector<const ParticleChannelBase*> exported;
    for (const ChannelHandle& handle : channels_) {
        const auto* particles = dynamic_cast<const ParticleChannelBase*>(handle.get());
        if (!particles || !exportable(handle->typeCode()))
            throw ztx::base(zt::cat("Unhandled channel '", handle->name(), "' in Cb::ParticleShape::pushZtdBody"));
        exported.push_back(particles);
    }
    for (const ParticleChannelBase* channel : exported) {
        channel->makeResident();
        ztd::channel& plain = body.particles.require(channel->name());
        plain.typeCode = channel->typeCode();
        plain.blocks = &channel->rawStorage();
    }
}

}  // namespace Cb
