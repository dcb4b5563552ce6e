// Deferred loading of a particle position channel: 10 million vec3f
// particles in 3000 blocks (one per tile), written once to a file in /tmp,
// compressed or raw; each iteration reads the block tables and then
// ensureLoaded() reads the data region in one read and decodes the blocks in
// parallel. Bytes per second count the raw elements (120 MB per iteration).
#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "cb/encoding/ZtpStream.h"
#include "zt/block3_array.h"

namespace {

constexpr int kTilesX = 15, kTilesY = 10, kTilesZ = 20;  // 3000 tiles
constexpr int64_t kParticles = 10'000'000;
constexpr int kTileSize = 16;
constexpr float kCellSize = 0.01f;

// Particles of a settling liquid: a jittered lattice filling each tile.
std::unique_ptr<zt::block3_array<zt::vec3f>> makePositions() {
    auto positions = std::make_unique<zt::block3_array<zt::vec3f>>();
    const int64_t tiles = int64_t(kTilesX) * kTilesY * kTilesZ;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> jitter(-0.3f, 0.3f);
    const float tileWidth = kCellSize * kTileSize;
    for (int64_t t = 0; t < tiles; ++t) {
        const int i = int(t % kTilesX), j = int((t / kTilesX) % kTilesY), k = int(t / (kTilesX * kTilesY));
        const int64_t count = kParticles / tiles + (t < kParticles % tiles ? 1 : 0);
        std::unique_ptr<zt::block3_base> block = positions->newBlock(i, j, k);
        auto& typed = static_cast<zt::block3<zt::vec3f>&>(*block);
        typed.reserveMore(count);
        // 15 x 15 x 15 lattice points per tile, then a second layer.
        const float step = tileWidth / 15.0f;
        for (int64_t e = 0; e < count; ++e) {
            const int64_t x = e % 15, y = (e / 15) % 15, z = (e / 225) % 15;
            typed.append({{float(i) * tileWidth + (float(x) + 0.5f + jitter(rng)) * step,
                           float(j) * tileWidth + (float(y) + 0.5f + jitter(rng)) * step,
                           float(k) * tileWidth + (float(z) + 0.5f + jitter(rng)) * step}});
        }
        positions->appendBlock(0, std::move(block));
    }
    return positions;
}

std::string pathOf(bool compress) {
    return "/tmp/bench_block_loading_" + std::string(compress ? "packed_" : "raw_") + std::to_string(getpid()) +
           ".ztp";
}

const std::string& benchFile(bool compress) {
    static const std::string paths[2] = {pathOf(false), pathOf(true)};
    static bool written[2] = {false, false};
    const std::string& path = paths[compress ? 1 : 0];
    if (!written[compress ? 1 : 0]) {
        static const auto positions = makePositions();
        Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
        positions->write(out, compress);
        out.close();
        written[compress ? 1 : 0] = true;
    }
    return path;
}

void loadBlocks(benchmark::State& state, bool compress) {
    omp_set_num_threads(int(state.range(0)));
    const std::string& path = benchFile(compress);
    for (auto _ : state) {
        zt::block3_array<zt::vec3f> positions;
        {
            Cb::ZtpInput in(Cb::openFile(path, "rb"), path, Cb::kZtpVersion);
            positions.readHeader(in);
        }
        positions.ensureLoaded();
        if (positions.elementCount() != kParticles) state.SkipWithError("wrong particle count");
        benchmark::DoNotOptimize(positions.residentBlock(0));
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fseek(f, 0, SEEK_END);
        state.counters["file_MB"] = double(std::ftell(f)) * 1e-6;
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * kParticles * int64_t(sizeof(zt::vec3f)));
}

void BM_EnsureLoadedCompressed(benchmark::State& state) { loadBlocks(state, true); }
void BM_EnsureLoadedRaw(benchmark::State& state) { loadBlocks(state, false); }


}  // namespace

BENCHMARK(BM_EnsureLoadedCompressed)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnsureLoadedRaw)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Only files this run wrote are removed.
    for (bool compress : {false, true}) std::remove(pathOf(compress).c_str());
    return 0;
}
