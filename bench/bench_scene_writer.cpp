// The hex list writer against a plain fwrite of the same number of bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "GatheredExport.h"
#include "SceneWriter.h"
#include "Sequence.h"

namespace {

struct V3 {
    float x, y, z;
};

FILE* devNull() {
    static FILE* f = std::fopen("/dev/null", "w");
    return f;
}

void fillPositions(Sequence& s, int n) {
    for (int i = 0; i < n; ++i) *s.appendAs<V3>() = {float(i) * 0.001f, float(i % 977) * 0.5f, -float(i)};
}

void BM_WriteListVectorHex(benchmark::State& state) {
    const int n = int(state.range(0));
    Sequence positions(12, kParticleBlockCapacity);
    fillPositions(positions, n);
    for (auto _ : state) {
        BoundingBox box;
        bool ok = writeListVectorHex(devNull(), positions, "positions", box, true, 1.0f);
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 24);
}
BENCHMARK(BM_WriteListVectorHex)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_PlainFwriteSameBytes(benchmark::State& state) {
    const int n = int(state.range(0));
    std::vector<char> bytes(size_t(n) * 24, 'A');
    for (auto _ : state) {
        // Same piece size as the list writer's buffer.
        const size_t piece = size_t(1) << 20;
        for (size_t off = 0; off < bytes.size(); off += piece)
            std::fwrite(bytes.data() + off, 1, std::min(piece, bytes.size() - off), devNull());
        std::fflush(devNull());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 24);
}
BENCHMARK(BM_PlainFwriteSameBytes)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Writing to a real file, where the disk and not the encoding sets the pace.
void BM_WriteListVectorHexToFile(benchmark::State& state) {
    const int n = int(state.range(0));
    Sequence positions(12, kParticleBlockCapacity);
    fillPositions(positions, n);
    const char* path = "/tmp/bench_scene_writer.txscene";
    for (auto _ : state) {
        FILE* f = std::fopen(path, "w");
        BoundingBox box;
        bool ok = writeListVectorHex(f, positions, "positions", box, true, 1.0f);
        std::fclose(f);
        benchmark::DoNotOptimize(ok);
    }
    std::remove(path);
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 24);
}
BENCHMARK(BM_WriteListVectorHexToFile)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_PlainFwriteToFile(benchmark::State& state) {
    const int n = int(state.range(0));
    std::vector<char> bytes(size_t(n) * 24, 'A');
    const char* path = "/tmp/bench_scene_writer_plain.txscene";
    for (auto _ : state) {
        FILE* f = std::fopen(path, "w");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::remove(path);
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 24);
}
BENCHMARK(BM_PlainFwriteToFile)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
