#include <algorithm>

#include "Common.h"
#include "Particles.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/block3_array.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace ztpy {

namespace {

using Storage = zt::block3_array_base;

const Cb::Channel* findChannel(const Cb::Shape& shape, const std::string& name) {
    const int index = shape.indexOf(name);
    return index < 0 || shape.channel(index)->name() != name ? nullptr : shape.channel(index).get();
}

// A particle channel's block storage as it is, nothing loaded. Loading one
// block fills the channel's cache of its file data, which the library's own
// const readers do as well; the storage object itself is not const.
Storage& storageOf(const Cb::Channel& channel) {
    const auto* particles = dynamic_cast<const Cb::ParticleChannelBase*>(&channel);
    if (!particles) throw ztx::base(zt::cat("Channel '", channel.name(), "' is not a particle channel"));
    return const_cast<Storage&>(particles->rawStorage());
}

// The master channel rows follow: a vec3f "position", or null.
const Cb::Channel* masterOf(const Cb::Shape& shape) {
    const Cb::Channel* position = findChannel(shape, "position");
    return position && position->typeCode() == Cb::kTypeVec3f ? position : nullptr;
}

int64_t elementsOf(Storage& storage, int64_t g) {
    zt::stored_block info;
    if (!storage.storedBlockInfo(g, info)) {
        const zt::block3_base* b = storage.residentBlock(g);
        return b ? b->count() : 0;
    }
    if (info.elements >= 0) return info.elements;
    // Older files keep the count inside the block.
    const zt::block3_base* b = storage.block(g);
    const int64_t n = b ? b->count() : 0;
    storage.releaseBlock(g);
    return n;
}

// Rows per exported block: global blocks 0 .. fine-list length - 1.
std::vector<int64_t> rowsPerBlock(Storage& storage, int64_t blocks) {
    std::vector<int64_t> rows(size_t(std::max<int64_t>(blocks, 0)));
    for (int64_t g = 0; g < blocks; ++g) rows[size_t(g)] = elementsOf(storage, g);
    return rows;
}

template <class T>
void copyRows(Storage& storage, const std::vector<int64_t>& rows, const T& fill, T* out) {
    auto& typed = static_cast<zt::block3_array<T>&>(storage);
    for (size_t g = 0; g < rows.size(); ++g) {
        zt::stored_block info;
        const bool fromFile = storage.storedBlockInfo(int64_t(g), info);
        const zt::block3<T>* b = typed.typedBlock(int64_t(g));
        const int64_t n = b ? std::min(b->count(), rows[g]) : 0;
        if (n > 0) std::copy_n(b->data(), n, out);
        std::fill_n(out + n, rows[g] - n, fill);
        out += rows[g];
        // One block in memory at a time: the next read loads it again.
        if (fromFile) storage.releaseBlock(int64_t(g));
    }
}

struct Counted {
    std::vector<int64_t> rows;
    int64_t total = 0;
};

Counted countRows(Storage& storage, int64_t blocks) {
    Counted c;
    c.rows = rowsPerBlock(storage, blocks);
    for (const int64_t n : c.rows) c.total += n;
    return c;
}

}  // namespace

const Cb::ParticleShape& particleShapeOf(const BodyHandle& handle) {
    const Cb::Body& body = handle.body();
    if (!body.hasShape("Particle")) throw ztx::base(zt::cat("Body '", body.name(), "' has no Particle shape"));
    return *body.particleShape();
}

std::vector<ChannelEntry> particleChannels(const BodyHandle& handle) {
    LibraryLock lock;
    return channelEntries(particleShapeOf(handle));
}

int64_t particleCount(const BodyHandle& handle) {
    LibraryLock lock;
    const Cb::Body& body = handle.body();
    const Cb::ParticleShape& shape = particleShapeOf(handle);
    const Cb::Channel* rowsFrom = masterOf(shape);
    if (!rowsFrom && shape.channelCount() > 0) rowsFrom = shape.channel(0).get();
    if (!rowsFrom) return 0;
    GilRelease released;
    return countRows(storageOf(*rowsFrom), body.layout().fineCount()).total;
}

py::array readParticleChannel(const BodyHandle& handle, const std::string& name) {
    LibraryLock lock;
    const Cb::Body& body = handle.body();
    const Cb::ParticleShape& shape = particleShapeOf(handle);
    const Cb::Channel* channel = findChannel(shape, name);
    if (!channel) throw py::key_error(zt::cat("Body '", body.name(), "' has no particle channel '", name, "'"));
    const Cb::Channel* master = masterOf(shape);
    return withElementType(*channel, [&](auto element) -> py::array {
        using T = decltype(element);
        Storage& storage = storageOf(*channel);
        if (!dynamic_cast<zt::block3_array<T>*>(&storage)) throwUnsupported(*channel);
        const auto* typed = dynamic_cast<const Cb::ParticleChannel<T>*>(channel);
        const T fill = typed ? typed->defaultValue() : T{};
        Counted counted;
        {
            GilRelease released;
            counted = countRows(storageOf(master ? *master : *channel), body.layout().fineCount());
        }
        auto array = newRows<T>(counted.total);
        T* out = reinterpret_cast<T*>(array.mutable_data());
        {
            GilRelease released;
            copyRows(storage, counted.rows, fill, out);
        }
        return array;
    });
}

}  // namespace ztpy
