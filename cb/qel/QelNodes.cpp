// Values of the operator, function, constant, variable and curve nodes. All
// arithmetic is 32-bit float; operands are evaluated left to right.
#include "cb/qel/QelNodes.h"

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "QelEvalHelpers.h"
#include "cb/qel/QelContext.h"

namespace Cbp {

using Cb::FrameTime;
using detail::isAxis;
using detail::truncate;

namespace {

float truth(bool b) { return b ? 1.0f : 0.0f; }

// u^3 (u (6u - 15) + 10): 0 at 0, 1 at 1, flat at both ends.
float smoothCurve(float u) { return u * u * u * (u * (6.0f * u - 15.0f) + 10.0f); }

}  // namespace

// ---- Operators

float QelCond::eval(const FrameTime& t, int c, int k) {
    return std::fabs(operand(0, t, c, k)) > FLT_EPSILON ? operand(1, t, c, k) : operand(2, t, c, k);
}

float QelNot::eval(const FrameTime& t, int c, int k) { return truth(truncate(operand(0, t, c, k)) == 0); }

float QelNeg::eval(const FrameTime& t, int c, int k) { return -operand(0, t, c, k); }

float QelMul::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return a * operand(1, t, c, k);
}

float QelDiv::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return a / operand(1, t, c, k);
}

float QelMod::eval(const FrameTime& t, int c, int k) {
    const int32_t a = truncate(operand(0, t, c, k));
    const int32_t b = truncate(operand(1, t, c, k));
    // A zero divisor gives 0 rather than a trap; -1 always leaves 0 and would
    // overflow for the smallest integer.
    if (b == 0 || b == -1) return 0.0f;
    return float(a % b);
}

float QelPlus::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return a + operand(1, t, c, k);
}

float QelMinus::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return a - operand(1, t, c, k);
}

float QelGtEq::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a >= operand(1, t, c, k));
}

float QelLtEq::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a <= operand(1, t, c, k));
}

float QelGt::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a > operand(1, t, c, k));
}

float QelLt::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a < operand(1, t, c, k));
}

float QelEq::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a == operand(1, t, c, k));
}

float QelNotEq::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return truth(a != operand(1, t, c, k));
}

float QelLor::eval(const FrameTime& t, int c, int k) {
    if (truncate(operand(0, t, c, k)) != 0) return 1.0f;
    return truth(truncate(operand(1, t, c, k)) != 0);
}

float QelLand::eval(const FrameTime& t, int c, int k) {
    if (truncate(operand(0, t, c, k)) == 0) return 0.0f;
    return truth(truncate(operand(1, t, c, k)) != 0);
}

float QelDx::eval(const FrameTime& t, int c, int k) {
    const float size = detail::voxelSizeOf(context_);
    return size * operand(0, t, c, k);
}

float QelComp::eval(const FrameTime& t, int, int k) {
    const int32_t index = truncate(operand(1, t, 0, k));
    return isAxis(index) ? operand(0, t, index, k) : 0.0f;
}

// ---- Variables

float QelTime::eval(const FrameTime& t, int, int) { return float(t.time); }

float QelTimestep::eval(const FrameTime& t, int, int) { return float(t.timestep); }

float QelFrame::eval(const FrameTime& t, int, int) { return t.frame; }

float QelDt::eval(const FrameTime& t, int, int) { return float(t.dt); }

float QelFrameDt::eval(const FrameTime& t, int, int) { return float(t.frameDt); }

float QelPos::eval(const FrameTime&, int, int k) {
    return isAxis(axis_) ? detail::positionOf(context_, k)[axis_] : 0.0f;
}

float QelBName::eval(const FrameTime&, int, int) { return 0.0f; }

void QelBName::evalString(std::string& out, const FrameTime&, int, int) {
    out = context_ ? context_->bodyName() : std::string();
}

float QelEnv::eval(const FrameTime& t, int c, int k) {
    std::string value;
    evalString(value, t, c, k);
    return float(std::atof(value.c_str()));
}

void QelEnv::evalString(std::string& out, const FrameTime& t, int c, int k) {
    std::string name;
    children_[0]->evalString(name, t, c, k);
    const char* value = std::getenv(name.c_str());
    out = value ? value : "";
}

// ---- Constants and strings

float QelNumberConstant::eval(const FrameTime&, int, int) { return value_; }

float QelStringConstant::eval(const FrameTime&, int, int) { return 0.0f; }

void QelStringConstant::evalString(std::string& out, const FrameTime&, int, int) { out = text_; }

float QelString::eval(const FrameTime&, int, int) { return 0.0f; }

void QelString::evalString(std::string& out, const FrameTime& t, int c, int k) {
    std::string text;
    std::string segment;
    for (QelNode* child : children_) {
        if (!child) continue;
        child->evalString(segment, t, c, k);
        text += segment;
    }
    out = std::move(text);
}

// ---- Functions of one value

float QelSin::eval(const FrameTime& t, int c, int k) { return std::sin(operand(0, t, c, k)); }

float QelCos::eval(const FrameTime& t, int c, int k) { return std::cos(operand(0, t, c, k)); }

float QelTan::eval(const FrameTime& t, int c, int k) { return std::tan(operand(0, t, c, k)); }

float QelAbs::eval(const FrameTime& t, int c, int k) { return std::fabs(operand(0, t, c, k)); }

float QelFloor::eval(const FrameTime& t, int c, int k) { return std::floor(operand(0, t, c, k)); }

float QelCeil::eval(const FrameTime& t, int c, int k) { return std::ceil(operand(0, t, c, k)); }

float QelRound::eval(const FrameTime& t, int c, int k) {
    // Just under one half (bits 0x3EFFFEB0), so that x.5 rounds down.
    constexpr float kHalf = 0.49999f;
    static_assert(std::bit_cast<uint32_t>(kHalf) == 0x3EFFFEB0u);
    return std::floor(operand(0, t, c, k) + kHalf);
}

float QelSqrt::eval(const FrameTime& t, int c, int k) { return std::sqrt(operand(0, t, c, k)); }

float QelSqr::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return a * a;
}

float QelPow::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    return std::pow(a, operand(1, t, c, k));
}

float QelMin::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    const float b = operand(1, t, c, k);
    return a <= b ? a : b;
}

float QelMax::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    const float b = operand(1, t, c, k);
    return a >= b ? a : b;
}

float QelClamp::eval(const FrameTime& t, int c, int k) {
    const float x = operand(0, t, c, k);
    const float lo = operand(1, t, c, k);
    const float hi = operand(2, t, c, k);
    if (x < lo) return lo;
    if (x > hi) return hi;
    return x;
}

float QelSmoothstep::eval(const FrameTime& t, int c, int k) {
    const float e0 = operand(0, t, c, k);
    const float e1 = operand(1, t, c, k);
    const float u = (operand(2, t, c, k) - e0) / (e1 - e0);
    if (u < 0.0f) return 0.0f;
    if (u > 1.0f) return 1.0f;
    return smoothCurve(u);
}

float QelMix::eval(const FrameTime& t, int c, int k) {
    const float a = operand(0, t, c, k);
    const float b = operand(1, t, c, k);
    const float u = operand(2, t, c, k);
    return (1.0f - u) * a + u * b;
}

namespace {

// x, i0, i1, o0, o1 of remap and remaps.
std::array<float, 5> remapOperands(const QelNode& node, const FrameTime& t, int c, int k) {
    std::array<float, 5> v{};
    for (int i = 0; i < 5; ++i) v[size_t(i)] = node.child(i)->eval(t, c, k);
    return v;
}

}  // namespace

float QelRemap::eval(const FrameTime& t, int c, int k) {
    const auto [x, i0, i1, o0, o1] = remapOperands(*this, t, c, k);
    if (x < i0) return o0;
    if (x > i1) return o1;
    const float u = (x - i0) / (i1 - i0);
    return (1.0f - u) * o0 + u * o1;
}

float QelRemaps::eval(const FrameTime& t, int c, int k) {
    const auto [x, i0, i1, o0, o1] = remapOperands(*this, t, c, k);
    if (x < i0) return o0;
    if (x > i1) return o1;
    return (o1 - o0) * smoothCurve((x - i0) / (i1 - i0)) + o0;
}

// ---- Vectors

namespace {

zt::vec3f components(QelNode* node, const FrameTime& t, int k) {
    zt::vec3f v{};
    for (int i = 0; i < 3; ++i) v[i] = node->eval(t, i, k);
    return v;
}

float lengthSquared(const zt::vec3f& v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; }

}  // namespace

float QelVec::eval(const FrameTime& t, int c, int k) { return isAxis(c) ? operand(c, t, 0, k) : 0.0f; }

float QelMag::eval(const FrameTime& t, int, int k) { return std::sqrt(lengthSquared(components(child(0), t, k))); }

float QelMag2::eval(const FrameTime& t, int, int k) { return lengthSquared(components(child(0), t, k)); }

float QelNorm::eval(const FrameTime& t, int c, int k) {
    if (!isAxis(c)) return 0.0f;
    const zt::vec3f a = components(child(0), t, k);
    return a[c] * (1.0f / std::sqrt(lengthSquared(a)));
}

float QelDot::eval(const FrameTime& t, int, int k) {
    float sum = 0.0f;
    for (int i = 0; i < 3; ++i) {
        const float a = operand(0, t, i, k);
        sum += a * operand(1, t, i, k);
    }
    return sum;
}

float QelCross::eval(const FrameTime& t, int c, int k) {
    if (!isAxis(c)) return 0.0f;
    const int i = (c + 1) % 3;
    const int j = (c + 2) % 3;
    const zt::vec3f a = components(child(0), t, k);
    const zt::vec3f b = components(child(1), t, k);
    return a[i] * b[j] - a[j] * b[i];
}

// ---- Differential operators: central differences half a cell either side

namespace {

// The operand's component at the position moved by `offset` along `axis`.
float sampleShifted(QelNode* node, zt::vec3f p, int axis, float offset, const FrameTime& t, int c, int k) {
    p[axis] += offset;
    return node->evalAt(p, t, c, k);
}

}  // namespace

float QelGrad::eval(const FrameTime& t, int c, int k) {
    if (!isAxis(c)) return 0.0f;
    const float size = detail::voxelSizeOf(context_);
    const float h = size * 0.5f;
    const zt::vec3f p = detail::positionOf(context_, k);
    const float ahead = sampleShifted(child(0), p, c, h, t, c, k);
    return (ahead - sampleShifted(child(0), p, c, -h, t, c, k)) / size;
}

float QelCurl::eval(const FrameTime& t, int c, int k) {
    if (!isAxis(c)) return 0.0f;
    const int i = (c + 1) % 3;
    const int j = (c + 2) % 3;
    const float size = detail::voxelSizeOf(context_);
    const float h = size * 0.5f;
    const zt::vec3f p = detail::positionOf(context_, k);
    QelNode* a = child(0);
    const float dj = sampleShifted(a, p, i, h, t, j, k) - sampleShifted(a, p, i, -h, t, j, k);
    const float di = sampleShifted(a, p, j, h, t, i, k) - sampleShifted(a, p, j, -h, t, i, k);
    return dj / size - di / size;
}

float QelCurv::eval(const FrameTime& t, int c, int k) {
    const float size = detail::voxelSizeOf(context_);
    const float h = size * 0.5f;
    const zt::vec3f p = detail::positionOf(context_, k);
    QelNode* a = child(0);
    float sum = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        sum += sampleShifted(a, p, axis, h, t, c, k);
        sum += sampleShifted(a, p, axis, -h, t, c, k);
    }
    return (sum - 6.0f * a->evalAt(p, t, c, k)) / h;
}

// ---- Curves

QelCurve::QelCurve(QelNode* degree, const zt::vec2f* keyframes, int64_t count) {
    addChild(degree);
    const float d = degree ? degree->eval(FrameTime(), 0, 0) : 1.0f;
    if (d == 1.0f)
        curve_ = std::make_unique<zt::linear_curve>();
    else if (d == 2.0f)
        curve_ = std::make_unique<zt::quadratic_curve>();
    else
        curve_ = std::make_unique<zt::cubic_curve>(0.1);
    for (int64_t i = 0; i < count; ++i) curve_->addKeyframe(double(keyframes[i][0]), double(keyframes[i][1]));
    curve_->rebuild();
}

float QelCurve::eval(const FrameTime& t, int, int) { return float(curve_->evaluate(double(t.frame))); }

}  // namespace Cbp
