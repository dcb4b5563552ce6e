#include "SampleCache.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "SampleBodies.h"
#include "SampleScene.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/Shape.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"

namespace sample {

namespace {

BodySummary summarise(const Cb::Body& body) {
    BodySummary s;
    s.name = body.name();
    s.type = body.signatureName();
    s.particles = body.hasShape("Particle") ? body.shape("Particle")->size() : 0;
    s.tiles = body.layout().fineCount();
    s.voxelSize = body.layout().cellSize();
    return s;
}

void writeBodies(const std::string& path, const std::vector<std::unique_ptr<Cb::Body>>& bodies, bool compress) {
    Cb::ZtpWriter writer;
    writer.open(path);
    try {
        for (const auto& body : bodies) writer.writeBody(*body, "*.*", compress);
        writer.close();
    } catch (...) {
        // Half a cache reads as an empty one: better none at all.
        if (writer.isOpen()) {
            try {
                writer.close();
            } catch (...) {
            }
        }
        std::remove(path.c_str());
        throw;
    }
}

}  // namespace

int64_t CacheSummary::particles() const {
    int64_t n = 0;
    for (const BodySummary& b : bodies) n += b.particles;
    return n;
}

int64_t CacheSummary::tiles() const {
    int64_t n = 0;
    for (const BodySummary& b : bodies) n += b.tiles;
    return n;
}

CacheSummary writeSampleCache(const std::string& path, int64_t particles, uint64_t seed, bool compress) {
    Cb::Session library;
    const SceneCounts counts = splitCount(particles);
    std::vector<std::unique_ptr<Cb::Body>> bodies;

    std::unique_ptr<Cb::Body> pool = makeBody(kLiquidType, kPoolName);
    // The liquid's own setting: s^3 particles per voxel for supersampling s.
    const double perVoxel = std::pow(numberValue(*pool, "Interior Supersampling"), 3.0);
    const float voxel = setFloatValue(*pool, "Master Voxel Size", liquidVoxelSize(counts.pool, perVoxel));
    placeParticles(*pool, PoolSource(seed, counts.pool), voxel);
    countParticles(*pool);
    bodies.push_back(std::move(pool));

    std::unique_ptr<Cb::Body> jet = makeBody(kLiquidType, kJetName);
    setFloatValue(*jet, "Master Voxel Size", voxel);
    setFloatValue(*jet, "Initial Velocity", JetSource::kSpeed, 1);
    placeParticles(*jet, JetSource(seed, counts.jet), voxel);
    countParticles(*jet);
    bodies.push_back(std::move(jet));

    std::unique_ptr<Cb::Body> mist = makeBody(kSmokeType, kMistName);
    fillMist(*mist, Mist(seed), float(numberValue(*mist, "Master Voxel Size")));
    bodies.push_back(std::move(mist));

    writeBodies(path, bodies, compress);
    CacheSummary summary;
    for (const auto& body : bodies) summary.bodies.push_back(summarise(*body));
    return summary;
}

std::string describeCache(const std::string& path, uint64_t seed, bool compress, const CacheSummary& summary) {
    std::string text = zt::cat("ztp-sample: wrote ", path, " (", compress ? "compressed" : "raw", ", seed ", seed, ")\n");
    for (const BodySummary& b : summary.bodies) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-10s %-16s %12lld particles %7lld tiles  voxel %g\n", b.name.c_str(),
                      b.type.c_str(), static_cast<long long>(b.particles), static_cast<long long>(b.tiles),
                      double(b.voxelSize));
        text += line;
    }
    text += zt::cat("  ", summary.bodies.size(), " bodies, ", summary.particles(), " particles, ", summary.tiles(),
                    " tiles\n");
    return text;
}

}  // namespace sample
