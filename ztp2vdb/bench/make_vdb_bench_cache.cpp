// Writes a cache for timing ztp2vdb:
//   Smoke   a Field-Smoke body whose density, temperature and velocity fields
//           fill a ball of fine tiles of about VOXELS voxels (density and
//           temperature fall off from the centre and are background outside
//           the ball, the velocity swirls);
//   Liquid  a Particle-Liquid body of PARTICLES particles, spread evenly over
//           a slab of tiles, with velocity, density and id64.
// Cell size 0.05, tile size 9, as ztp-sample uses. The same arguments give
// the same file.
//
//   make_vdb_bench_cache OUT.ztp VOXELS PARTICLES
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

namespace {

constexpr float kCellSize = 0.05f;
constexpr int kTileSize = 9;
constexpr int64_t kVoxelsPerTile = int64_t(kTileSize) * kTileSize * kTileSize;

float hashUnit(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return float(x >> 40) / float(1 << 24);
}

std::unique_ptr<Cb::Body> smoke(int64_t voxels) {
    auto body = std::make_unique<Cb::Body>("Smoke");
    body->setSignatureName("Field-Smoke");
    zt::tile_layout3& layout = body->mutableLayout();
    layout.reset(kCellSize, kTileSize);
    const double tiles = double(voxels) / double(kVoxelsPerTile);
    const int radius = std::max(1, int(std::ceil(std::cbrt(tiles * 3.0 / (4.0 * std::numbers::pi)))));
    for (int k = -radius; k < radius; ++k)
        for (int j = -radius; j < radius; ++j)
            for (int i = -radius; i < radius; ++i) {
                const double r = std::sqrt(double(i) * i + double(j) * j + double(k) * k);
                if (r < radius) layout.addTile(i, j, k, false);
            }
    layout.updateNeighbours(true);
    auto* shape = static_cast<Cb::FieldShape*>(body->addShape(new Cb::FieldShape(false)));
    shape->createChannel1f("density", 0.0f);
    shape->createChannel1f("temperature", 20.0f);
    shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->updateLayout(layout);
    auto& density = shape->mutableChannelAs<Cb::FieldChannel1f>("density")->field();
    auto& temperature = shape->mutableChannelAs<Cb::FieldChannel1f>("temperature")->field();
    auto* velocity = shape->mutableChannelAs<Cb::FieldChannel3f>("velocity");
    const float ball = float(radius * kTileSize) * kCellSize;
    const int64_t slots = layout.fineCount();
#pragma omp parallel for schedule(dynamic, 8)
    for (int64_t s = 0; s < slots; ++s) {
        const zt::tile3& tile = *layout.fineTile(s);
        for (int z = 0; z < kTileSize; ++z)
            for (int y = 0; y < kTileSize; ++y)
                for (int x = 0; x < kTileSize; ++x) {
                    const int64_t index = tile.voxelIndex(x, y, z);
                    const zt::vec3f p = layout.positionOf(index, 0);
                    const float r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) / ball;
                    const float d = r < 1.0f ? (1.0f - r) * (0.8f + 0.2f * hashUnit(uint64_t(index))) : 0.0f;
                    density.at(index) = d;
                    temperature.at(index) = d > 0.0f ? 20.0f + 200.0f * d : 20.0f;
                    velocity->field(0).at(index) = -p[1];
                    velocity->field(1).at(index) = p[0];
                    velocity->field(2).at(index) = 0.5f * d;
                }
    }
    return body;
}

std::unique_ptr<Cb::Body> liquid(int64_t particles) {
    auto body = std::make_unique<Cb::Body>("Liquid");
    body->setSignatureName("Particle-Liquid");
    zt::tile_layout3& layout = body->mutableLayout();
    layout.reset(kCellSize, kTileSize);
    // Two particles per voxel, in a slab of tiles 40 wide and deep.
    const int64_t perTile = 2 * kVoxelsPerTile;
    const int64_t tiles = std::max<int64_t>(1, (particles + perTile - 1) / perTile);
    for (int64_t t = 0; t < tiles; ++t) layout.addTile(int(t % 40), int(t / 1600), int(t / 40 % 40), false);
    layout.updateNeighbours(true);
    auto* shape = static_cast<Cb::ParticleShape*>(body->addShape(new Cb::ParticleShape(true)));
    shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel1f("density", 1000.0f);
    shape->updateLayout(layout);
    auto& positions = shape->positions()->blocks();
    for (int64_t t = 0; t < tiles; ++t) positions.typedBlock(0, t)->resize(std::min(perTile, particles - t * perTile));
    shape->syncChannels();
    shape->createChannel1i64("id64", 0);  // running ids, in block order
    auto& velocities = shape->mutableChannelAs<Cb::ParticleChannel<zt::vec3f>>("velocity")->blocks();
    auto& densities = shape->mutableChannelAs<Cb::ParticleChannel<float>>("density")->blocks();
    const float edge = kCellSize * kTileSize;
#pragma omp parallel for schedule(dynamic, 8)
    for (int64_t t = 0; t < tiles; ++t) {
        const zt::tile3& tile = *layout.fineTile(t);
        zt::block3<zt::vec3f>& p = *positions.typedBlock(0, t);
        zt::block3<zt::vec3f>& v = *velocities.typedBlock(0, t);
        zt::block3<float>& d = *densities.typedBlock(0, t);
        for (int64_t e = 0; e < p.count(); ++e) {
            const uint64_t n = uint64_t(t * perTile + e) * 4;
            for (int a = 0; a < 3; ++a) p[e][a] = (float(tile.coord()[a]) + hashUnit(n + a)) * edge;
            v[e] = {{p[e][2] - 1.0f, -9.8f * hashUnit(n + 3), 0.5f - p[e][0]}};
            d[e] = 1000.0f + 10.0f * hashUnit(n + 7);
        }
    }
    shape->setModifiedFlags(0);
    return body;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: make_vdb_bench_cache OUT.ztp VOXELS PARTICLES\n", stderr);
        return 1;
    }
    try {
        Cb::Session library(false);
        const auto field = smoke(std::atoll(argv[2]));
        const auto particles = liquid(std::atoll(argv[3]));
        Cb::ZtpWriter writer;
        writer.open(argv[1]);
        writer.writeBody(*field, "*.*", true);
        writer.writeBody(*particles, "*.*", true);
        writer.close();
        std::printf("%s: Smoke %lld fine voxels, Liquid %lld particles\n", argv[1],
                    static_cast<long long>(field->layout().fineVoxelCount()),
                    static_cast<long long>(particles->particleShape()->size()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_vdb_bench_cache: %s\n", e.what());
        return 1;
    }
    return 0;
}
