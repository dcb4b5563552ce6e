#include <algorithm>
#include <memory>
#include <vector>

#include "Common.h"
#include "Particles.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/block3_array.h"
#include "zt/block3_file.h"
#include "zt/parallel.h"
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

// Blocks still in a file of version 14 or later are read and inflated on
// every core, each straight into its rows; others (in memory, or in older
// files that keep a block's count inside it) go through the array, one
// block in memory at a time.
template <class T>
void copyRows(Storage& storage, const std::vector<int64_t>& rows, const T& fill, T* out) {
    auto& typed = static_cast<zt::block3_array<T>&>(storage);
    const int64_t blocks = int64_t(rows.size());
    std::vector<int64_t> first(rows.size());
    for (int64_t g = 0, row = 0; g < blocks; row += rows[size_t(g)], ++g) first[size_t(g)] = row;
    std::unique_ptr<zt::block3_file> file;
    if (storage.loadPending() && storage.version() >= zt::kBlockTableVersion) {
        file = std::make_unique<zt::block3_file>(storage.fileName());
        file->checkRegion(storage);
    }
    zt::parallel_errors errors;
#pragma omp parallel
    {
        std::vector<uint8_t> scratch;
        std::vector<T> odd;  // a block whose count differs from its rows
#pragma omp for schedule(dynamic, 4)
        for (int64_t g = 0; g < blocks; ++g) {
            errors.capture(g, [&] {
                T* rowsOut = out + first[size_t(g)];
                const int64_t wanted = rows[size_t(g)];
                int64_t n = 0;
                zt::stored_block info;
                const bool fromFile = storage.storedBlockInfo(g, info);
                if (file && fromFile && info.elements == wanted) {
                    file->readBlock(info, sizeof(T), rowsOut, scratch);
                    n = wanted;
                } else if (file && fromFile) {
                    odd.resize(size_t(info.elements));
                    file->readBlock(info, sizeof(T), odd.data(), scratch);
                    n = std::min(info.elements, wanted);
                    std::copy_n(odd.data(), n, rowsOut);
                } else {
                    const zt::block3<T>* b = typed.typedBlock(g);
                    n = b ? std::min(b->count(), wanted) : 0;
                    if (n > 0) std::copy_n(b->data(), n, rowsOut);
                    if (fromFile) storage.releaseBlock(g);
                }
                std::fill_n(rowsOut + n, wanted - n, fill);
            });
        }
    }
    errors.rethrow();
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
