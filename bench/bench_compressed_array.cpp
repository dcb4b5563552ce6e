// Writing and reading a chunked compressed array of 10 million particle
// positions through a file in /tmp, with 1 and 2 threads. Bytes per second
// count the raw elements (120 MB per iteration).
#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "cb/encoding/CompressedArray.h"

namespace {

constexpr int64_t kParticles = 10'000'000;

// A liquid settling in a tank: positions on a jittered lattice of 0.01 cells
// with a wavy free surface, as a solver's positions look.
const zt::array1<zt::vec3f>& positions() {
    static const zt::array1<zt::vec3f> cached = [] {
        zt::array1<zt::vec3f> p(kParticles);
        std::mt19937 rng(12345);
        std::uniform_real_distribution<float> jitter(-0.004f, 0.004f);
        const int64_t side = 400;  // 400 x 250 x 100 lattice
        for (int64_t i = 0; i < kParticles; ++i) {
            const int64_t x = i % side, z = (i / side) % 250, y = i / (side * 250);
            const float fx = float(x) * 0.01f, fz = float(z) * 0.01f;
            const float surface = 0.02f * std::sin(fx * 3.0f) * std::cos(fz * 2.0f);
            p[i] = zt::vec3f{{fx + jitter(rng), float(y) * 0.01f + surface + jitter(rng), fz + jitter(rng)}};
        }
        return p;
    }();
    return cached;
}

std::string benchPath() { return "/tmp/bench_compressed_array_" + std::to_string(getpid()) + ".ztp"; }

void writeFile(const std::string& path) {
    Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
    Cb::writeCompressedArray(positions(), out, true);
    out.close();
}

void BM_WriteCompressedVec3f(benchmark::State& state) {
    omp_set_num_threads(int(state.range(0)));
    const std::string path = benchPath();
    for (auto _ : state) writeFile(path);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fseek(f, 0, SEEK_END);
        state.counters["file_MB"] = double(std::ftell(f)) * 1e-6;
        std::fclose(f);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(state.iterations() * kParticles * int64_t(sizeof(zt::vec3f)));
}

void BM_ReadCompressedVec3f(benchmark::State& state) {
    omp_set_num_threads(int(state.range(0)));
    const std::string path = benchPath();
    writeFile(path);
    for (auto _ : state) {
        Cb::ZtpInput in(Cb::openFile(path, "rb"), path, Cb::kZtpVersion);
        zt::array1<zt::vec3f> back;
        Cb::readCompressedArray(back, in);
        benchmark::DoNotOptimize(back.data());
        if (back.count() != kParticles) state.SkipWithError("wrong element count");
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(state.iterations() * kParticles * int64_t(sizeof(zt::vec3f)));
}

}  // namespace

BENCHMARK(BM_WriteCompressedVec3f)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadCompressedVec3f)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
