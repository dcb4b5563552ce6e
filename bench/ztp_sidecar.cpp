// ztp_sidecar CACHE.ztp > SIDECAR.json: where the exported particle blocks of
// a cache lie, in the form the converter's speed bound reads (see
// ../shared/perf/README.md): per exported block, in export order, its element
// count and the file offset, stored size and compressed flag of its
// "position" and "velocity" data. Only the tables are read; nothing is
// inflated. Caches whose every exported block has both channels with equal
// counts qualify (ztp-sample writes such caches); others are refused.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cb/factory/Startup.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/block3_array.h"
#include "zt/tile_layout3.h"

namespace {

using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

const Vec3fChannel* vec3fChannel(const Cb::ParticleShape& shape, const char* name) {
    const int index = shape.indexOf(name);
    if (index < 0) return nullptr;
    return dynamic_cast<const Vec3fChannel*>(shape.channel(index).get());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CACHE.ztp > SIDECAR.json\n", argv[0]);
        return 1;
    }
    try {
        Cb::begin(true);
        std::vector<unsigned long long> table;
        unsigned long long particles = 0;
        {
            Cb::ZtpReader reader(argv[1], "*", "Body");
            for (int i = 0; i < reader.bodyCount(); ++i) {
                const Cb::Body* body = reader.storedBody(i);
                if (!body || !body->hasShape("Particle")) continue;
                const Cb::ParticleShape& shape = *body->particleShape();
                const Vec3fChannel* channels[2] = {vec3fChannel(shape, "position"), vec3fChannel(shape, "velocity")};
                if (!channels[0] || !channels[1])
                    throw std::runtime_error("body '" + body->name() + "' lacks a vec3f position or velocity");
                for (int64_t t = 0; t < body->layout().fineCount(); ++t) {
                    zt::stored_block info[2];
                    for (int k = 0; k < 2; ++k)
                        if (!channels[k]->rawStorage().storedBlockInfo(t, info[k]) || info[k].storedBytes < 0)
                            throw std::runtime_error("block " + std::to_string(t) + " of '" + body->name() +
                                                     "' is not waiting in the file as a table entry");
                    if (info[0].elements != info[1].elements)
                        throw std::runtime_error("block " + std::to_string(t) + " of '" + body->name() +
                                                 "' has positions and velocities of different counts");
                    table.push_back((unsigned long long)info[0].elements);
                    for (const zt::stored_block& s : info) {
                        table.push_back((unsigned long long)s.fileOffset);
                        table.push_back((unsigned long long)s.storedBytes);
                        table.push_back(s.compressed ? 1 : 0);
                    }
                    particles += (unsigned long long)info[0].elements;
                }
            }
        }
        Cb::end();
        std::printf("{\"particles\": %llu, \"blocks\": %zu,\n \"table\": [", particles, table.size() / 7);
        for (size_t i = 0; i < table.size(); ++i) std::printf(i ? (i % 7 ? ", %llu" : ",\n  %llu") : "%llu", table[i]);
        std::printf("]}\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ztp_sidecar: %s\n", e.what());
        return 1;
    }
}
