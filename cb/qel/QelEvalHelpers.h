#pragma once
// Small pieces shared by the evaluation sources of the node classes.

#include <cstdint>

#include "cb/qel/QelContext.h"
#include "zt/vec.h"

namespace Cbp::detail {

// Conversion toward zero to a 32-bit integer; NaN and values outside the
// integer range give INT32_MIN, as the processor's conversion does, instead
// of undefined behaviour.
inline int32_t truncate(float v) {
    if (v >= -2147483648.0f && v < 2147483648.0f) return int32_t(v);
    return INT32_MIN;
}

// Components of the three-component vectors of the language.
inline bool isAxis(int component) { return component >= 0 && component <= 2; }

// A tree may be evaluated before any context exists (keyframes parsed before
// start-up): it then behaves as over a context without a shape or layout.
inline zt::vec3f positionOf(const Cb::QelContext* context, int thread) {
    return context ? context->position(thread) : zt::vec3f{0.0f, 0.0f, 0.0f};
}

inline float voxelSizeOf(const Cb::QelContext* context) {
    return context ? context->voxelSize() : Cb::QelContext::unboundVoxelSize();
}

}  // namespace Cbp::detail
