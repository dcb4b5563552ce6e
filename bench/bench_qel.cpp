// Cost of one evaluation of a typical value expression, and of parsing it.
#include <benchmark/benchmark.h>

#include <memory>

#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/qel/QelParser.h"

namespace {

const char* const kText = "clamp(sin(time) * 2 + noise(frame), 0, 1)";

struct GlobalContext {
    GlobalContext() { Cb::QelContext::createGlobal(); }
    ~GlobalContext() { Cb::QelContext::destroyGlobal(); }
};

void BM_EvalClampSinNoise(benchmark::State& state) {
    GlobalContext global;
    std::unique_ptr<Cbp::QelNode> tree(Cb::parseExpression(kText, -3.4028235e38f, 3.4028235e38f));
    Cb::FrameTime t;
    int i = 0;
    for (auto _ : state) {
        t.frame = float(i & 1023) * 0.25f;
        t.time = double(i & 1023) * 0.01;
        benchmark::DoNotOptimize(tree->eval(t, 0, 0));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvalClampSinNoise);

void BM_ParseClampSinNoise(benchmark::State& state) {
    GlobalContext global;
    for (auto _ : state) {
        std::unique_ptr<Cbp::QelNode> tree(Cb::parseExpression(kText, -3.4028235e38f, 3.4028235e38f));
        benchmark::DoNotOptimize(tree.get());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseClampSinNoise);

void BM_EvalStringClampSinNoise(benchmark::State& state) {
    GlobalContext global;
    std::unique_ptr<Cbp::QelNode> tree(Cb::parseExpression(kText, -3.4028235e38f, 3.4028235e38f));
    Cb::FrameTime t;
    std::string out;
    for (auto _ : state) {
        tree->evalClampedString(out, t, 0.0f, 1.0f, 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_EvalStringClampSinNoise);

}  // namespace

BENCHMARK_MAIN();
