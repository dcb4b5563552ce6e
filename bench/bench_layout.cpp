// Tile layout and field hot paths: building a layout with its coarse shell,
// position lookups and trilinear samples over a field of about 4 million voxels.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "zt/field3.h"

namespace {

constexpr int kTilesPerAxis = 20;  // 8000 tiles of 8^3 voxels
constexpr float kCell = 0.1f;

void fill(zt::tile_layout3& l) {
    for (int k = 0; k < kTilesPerAxis; ++k)
        for (int j = 0; j < kTilesPerAxis; ++j)
            for (int i = 0; i < kTilesPerAxis; ++i) l.addTile(i, j, k, false);
    l.updateNeighbours(true);
}

std::vector<zt::vec3f> randomPoints(size_t n) {
    std::mt19937 rng(7);
    const float extent = kCell * 8 * kTilesPerAxis;
    std::uniform_real_distribution<float> d(-0.05f * extent, 1.05f * extent);
    std::vector<zt::vec3f> points(n);
    for (zt::vec3f& p : points) p = {{d(rng), d(rng), d(rng)}};
    return points;
}

void BM_BuildLayoutWithShell(benchmark::State& state) {
    for (auto _ : state) {
        zt::tile_layout3 l(kCell, 8);
        fill(l);
        benchmark::DoNotOptimize(l.coarseCount());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kTilesPerAxis * kTilesPerAxis * kTilesPerAxis);
}
BENCHMARK(BM_BuildLayoutWithShell)->Unit(benchmark::kMillisecond);

void BM_IndexAt(benchmark::State& state) {
    zt::tile_layout3 l(kCell, 8);
    fill(l);
    const std::vector<zt::vec3f> points = randomPoints(1 << 16);
    for (auto _ : state) {
        int64_t sum = 0;
        for (const zt::vec3f& p : points) sum += l.indexAt(p, 1);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(points.size()));
}
BENCHMARK(BM_IndexAt);

void BM_TrilinearSample(benchmark::State& state) {
    zt::tile_layout3 l(kCell, 8);
    fill(l);
    zt::field3<float> f(1.0f, 1);
    f.resize(l);
    for (int64_t i = 0; i < f.fineValues().count(); ++i) f.at(i) = float(i % 1000);
    const std::vector<zt::vec3f> points = randomPoints(1 << 16);
    for (auto _ : state) {
        float sum = 0;
        for (const zt::vec3f& p : points) sum += f.sample(p, l);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(points.size()));
}
BENCHMARK(BM_TrilinearSample);

}  // namespace

BENCHMARK_MAIN();
