#include <mutex>

#include "FieldKernelSupport.h"
#include "cb/ThreadCount.h"
#include "cb/fields/FieldKernels.h"

namespace Cb {

namespace {

// Adds one particle's weighted values into its eight corners, holding one
// tile lock at a time: corners in the same tile are added together.
void addCorners(const zt::trilinear_stencil& st, const float* value, std::span<zt::field3<float>* const> values,
                zt::field3<float>& weights) {
    float w[8];
    for (int c = 0; c < 8; ++c) w[c] = st.weight[c] * 1.0f + kSplatWeightFloor;
    unsigned done = 0;
    for (int c = 0; c < 8; ++c) {
        if (done & (1u << c)) continue;
        const zt::tile3* tile = st.tile[c];
        std::lock_guard<zt::omp_lock> guard(tile->lock());
        for (int d = c; d < 8; ++d) {
            if (st.tile[d] != tile) continue;
            done |= 1u << d;
            const int64_t index = st.index[d];
            weights.at(index) += w[d];
            for (size_t k = 0; k < values.size(); ++k) values[k]->at(index) += w[d] * value[k];
        }
    }
}

}  // namespace

void splatParticles(const zt::tile_layout3& layout, std::span<const ParticleBlockView> blocks, float dropletThreshold,
                    std::span<zt::field3<float>* const> values, zt::field3<float>& weights) {
    if (values.empty()) return;
    for (const zt::field3<float>* field : values) detail::requireSized(layout, *field, "splat values");
    detail::requireSized(layout, weights, "splat weights");
    const int sampleSet = values[0]->sampleSet();
    const auto splatBlock = [&](const ParticleBlockView& block) {
        zt::trilinear_stencil st;
        for (size_t k = 0; k < block.positions.size(); ++k) {
            if (!detail::takesPart(block, k, dropletThreshold)) continue;
            if (!layout.stencil(block.positions[k], sampleSet, st)) continue;
            bool inside = true;
            for (int c = 0; c < 8; ++c) inside = inside && st.tile[c] != nullptr;
            if (inside) addCorners(st, block.values + int64_t(k) * block.valueStride, values, weights);
        }
    };
    // Sums into shared voxels round by the order the blocks come in: the
    // team is the library's, so that the result is not the machine's.
    detail::forEachBlock(blocks, splatBlock, Cb::libraryThreadCount());
}

void finishSplat(std::span<zt::field3<float>* const> values, const zt::field3<float>& weights,
                 zt::field3<int64_t>& reached, bool divide) {
    auto finish = [&](auto valuesOf, const zt::array1<float>& w, zt::array1<int64_t>& mark) {
        const int64_t n = w.count();
        if (mark.count() != n) throw ztx::base("Cannot finish a splat: reached mask and weights differ in size");
        for (zt::field3<float>* field : values)
            if (valuesOf(*field).count() != n) throw ztx::base("Cannot finish a splat: values and weights differ in size");
#pragma omp parallel for schedule(static)
        for (int64_t i = 0; i < n; ++i) {
            if (w[i] == 0.0f) {
                if (divide)
                    for (zt::field3<float>* field : values) valuesOf(*field)[i] = field->background();
                continue;
            }
            mark[i] = 1;
            if (divide)
                for (zt::field3<float>* field : values) valuesOf(*field)[i] /= w[i];
        }
    };
    finish([](zt::field3<float>& f) -> zt::array1<float>& { return f.fineValues(); }, weights.fineValues(),
           reached.fineValues());
    finish([](zt::field3<float>& f) -> zt::array1<float>& { return f.coarseValues(); }, weights.coarseValues(),
           reached.coarseValues());
}

}  // namespace Cb
