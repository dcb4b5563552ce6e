// make-cache: writes a ZTP cache holding one Spark-Emitter body, made through
// the factory (so by the plug-in's code) and filled with sparks on their
// arcs. Needs CORIX_PATH, and the plug-in with its signature in a signature
// folder ($CORIX_PATH/server/user-sig or one named in CORIX_USER_SIG_PATH).
//
//   make-cache output_file spark_count
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cb/Version.h"
#include "cb/factory/Factory.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/qel/FrameTime.h"
#include "cb/values/ValueBase.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace {

constexpr const char* kType = "Spark-Emitter";
constexpr long kMaxSparks = 10000000;
constexpr int kTileSize = 9;

struct Spark {
    zt::vec3f position, velocity;
    float heat;
};

double number(Cb::Body& body, const char* valueName, int component = 0) {
    return body.value(valueName)->evalNumber(Cb::FrameTime(), component, 0);
}

// Spark i of n: a direction on a golden-angle spiral inside the cone, a
// speed and an age from low-discrepancy sequences, then its ballistic arc.
std::vector<Spark> sparksOf(Cb::Body& body, long n) {
    const zt::vec3f origin{{float(number(body, "Origin", 0)), float(number(body, "Origin", 1)),
                            float(number(body, "Origin", 2))}};
    const double speed = number(body, "Speed"), spread = number(body, "Spread"), life = number(body, "Lifetime");
    const double gravity = -9.81, goldenAngle = 2.399963229728653;
    std::vector<Spark> sparks(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i) {
        const double u = (double(i) + 0.5) / double(n);
        const double theta = std::acos(1.0 - u * (1.0 - std::cos(spread))), phi = goldenAngle * double(i);
        const double v = speed * (0.6 + 0.4 * std::fmod(double(i) * 0.6180339887, 1.0));
        const double age = life * std::fmod(double(i) * 0.7548776662 + 0.5, 1.0);
        const double d[3] = {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
        Spark& s = sparks[size_t(i)];
        for (int a = 0; a < 3; ++a) {
            const double g = a == 1 ? gravity : 0.0;
            s.position[a] = float(origin[a] + v * d[a] * age + 0.5 * g * age * age);
            s.velocity[a] = float(v * d[a] + g * age);
        }
        s.heat = float(1.0 - age / life);
    }
    return sparks;
}

// Each spark into the block of the tile holding it, in spark order.
void placeSparks(Cb::Body& body, const std::vector<Spark>& sparks) {
    zt::tile_layout3& layout = body.mutableLayout();
    layout.reset(float(number(body, "Master Voxel Size")), kTileSize);
    std::vector<zt::vec3i> tiles;
    tiles.reserve(sparks.size());
    for (const Spark& s : sparks) {
        zt::vec3i voxel;
        if (!layout.voxelAt(s.position, 0, voxel))
            throw ztx::base(zt::cat("a spark at (", s.position[0], ", ", s.position[1], ", ", s.position[2],
                                    ") lies outside the voxel range"));
        tiles.push_back(layout.tileOfVoxel(voxel));
        if (!layout.findTile(tiles.back())) layout.addTile(tiles.back()[0], tiles.back()[1], tiles.back()[2], false);
    }
    layout.updateNeighbours(true);

    Cb::ParticleShape& shape = *body.mutableParticleShape();
    shape.updateLayout(layout);
    std::vector<std::pair<int64_t, int64_t>> at;  // block slot and element of each spark
    at.reserve(sparks.size());
    for (size_t i = 0; i < sparks.size(); ++i) {
        const int64_t slot = layout.blockIndex(*layout.findTile(tiles[i]));
        auto* block = shape.positions()->blocks().typedBlock(0, slot);
        at.emplace_back(slot, block->count());
        block->append(sparks[i].position);
    }
    shape.syncChannels();
    auto& velocities = shape.mutableChannelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks();
    auto& heat = shape.mutableChannelAs<Cb::ParticleChannel<float>>("heat")->blocks();
    for (size_t i = 0; i < at.size(); ++i) {
        (*velocities.typedBlock(0, at[i].first))[at[i].second] = sparks[i].velocity;
        (*heat.typedBlock(0, at[i].first))[at[i].second] = sparks[i].heat;
    }
    shape.setModifiedFlags(0);
}

// Written beside the target and renamed over it: a failure leaves no file.
void writeCache(const std::string& path, Cb::Body& body) {
    const std::string part = path + ".part";
    try {
        Cb::ZtpWriter writer;
        writer.open(part);
        writer.writeBody(body, "*.*", true);
        writer.close();
    } catch (...) {
        std::remove(part.c_str());
        throw;
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        throw ztx::base(zt::cat("cannot rename ", part, " to ", path));
    }
}

bool parseCount(const char* text, long& count) {
    if (!*text || std::strlen(text) > 8) return false;
    count = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        count = count * 10 + (*c - '0');
    }
    return count >= 1 && count <= kMaxSparks;
}

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: make-cache output_file spark_count\n"
                 "       make-cache --help | --version\n"
                 "Writes a ZTP cache holding one %s body named \"sparks\" with 1 to %ld sparks.\n"
                 "Needs CORIX_PATH, and the plug-in beside its signature in $CORIX_PATH/server/user-sig\n"
                 "or in a folder named in CORIX_USER_SIG_PATH.\n",
                 kType, kMaxSparks);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        usage(stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("make-cache " CB_VERSION_STRING);
        return 0;
    }
    long count = 0;
    if (argc != 3 || !*argv[1] || !parseCount(argv[2], count)) {
        usage(stderr);
        return 1;
    }
    try {
        Cb::Session library;
        std::unique_ptr<Cb::Body> body(Cb::Factory::instance().createFromSignature(kType));
        body->setName("sparks");
        // Stored with the body, so that readers create it again as this type.
        body->setSignatureName(kType);
        placeSparks(*body, sparksOf(*body, count));
        writeCache(argv[1], *body);
        std::printf("wrote %s: one %s body, %ld sparks, %lld tiles (%s)\n", argv[1], kType, count,
                    static_cast<long long>(body->layout().fineCount()), body->emptyText().c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-cache: %s\n", e.what());
        return 1;
    }
}
