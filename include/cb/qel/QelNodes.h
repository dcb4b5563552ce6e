#pragma once
// The node classes of QEL trees. Children are added by the parser in the
// order each production fixes; vectors exist only as the three component
// evaluations 0, 1 and 2 (nodes with three-component meaning give 0 for any
// other component).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cb/qel/QelNode.h"
#include "zt/curve.h"

namespace Cb {
class Channel;
}

namespace Cbp {

// Classes whose whole behaviour is their value.
#define CBP_QEL_VALUE_NODE(Name)                                                \
    class Name final : public QelNode {                                         \
    public:                                                                     \
        float eval(const Cb::FrameTime& t, int component, int thread) override; \
        const char* className() const override { return #Name; }                \
    };

// Operators: a ? b : c, prefix, binary, unit suffix, component selection.
CBP_QEL_VALUE_NODE(QelCond)
CBP_QEL_VALUE_NODE(QelNot)
CBP_QEL_VALUE_NODE(QelNeg)
CBP_QEL_VALUE_NODE(QelMul)
CBP_QEL_VALUE_NODE(QelDiv)
CBP_QEL_VALUE_NODE(QelMod)
CBP_QEL_VALUE_NODE(QelPlus)
CBP_QEL_VALUE_NODE(QelMinus)
CBP_QEL_VALUE_NODE(QelGtEq)
CBP_QEL_VALUE_NODE(QelLtEq)
CBP_QEL_VALUE_NODE(QelGt)
CBP_QEL_VALUE_NODE(QelLt)
CBP_QEL_VALUE_NODE(QelEq)
CBP_QEL_VALUE_NODE(QelNotEq)
CBP_QEL_VALUE_NODE(QelLor)
CBP_QEL_VALUE_NODE(QelLand)
CBP_QEL_VALUE_NODE(QelDx)
CBP_QEL_VALUE_NODE(QelComp)

// Time variables.
CBP_QEL_VALUE_NODE(QelTime)
CBP_QEL_VALUE_NODE(QelTimestep)
CBP_QEL_VALUE_NODE(QelFrame)
CBP_QEL_VALUE_NODE(QelDt)
CBP_QEL_VALUE_NODE(QelFrameDt)

// Differential operators over sampled operands.
CBP_QEL_VALUE_NODE(QelGrad)
CBP_QEL_VALUE_NODE(QelCurv)
CBP_QEL_VALUE_NODE(QelCurl)

// Functions.
CBP_QEL_VALUE_NODE(QelSin)
CBP_QEL_VALUE_NODE(QelCos)
CBP_QEL_VALUE_NODE(QelTan)
CBP_QEL_VALUE_NODE(QelAbs)
CBP_QEL_VALUE_NODE(QelFloor)
CBP_QEL_VALUE_NODE(QelCeil)
CBP_QEL_VALUE_NODE(QelRound)
CBP_QEL_VALUE_NODE(QelSqrt)
CBP_QEL_VALUE_NODE(QelSqr)
CBP_QEL_VALUE_NODE(QelPow)
CBP_QEL_VALUE_NODE(QelMag)
CBP_QEL_VALUE_NODE(QelMag2)
CBP_QEL_VALUE_NODE(QelNorm)
CBP_QEL_VALUE_NODE(QelMin)
CBP_QEL_VALUE_NODE(QelMax)
CBP_QEL_VALUE_NODE(QelClamp)
CBP_QEL_VALUE_NODE(QelSmoothstep)
CBP_QEL_VALUE_NODE(QelMix)
CBP_QEL_VALUE_NODE(QelRemap)
CBP_QEL_VALUE_NODE(QelRemaps)
CBP_QEL_VALUE_NODE(QelVec)
CBP_QEL_VALUE_NODE(QelDot)
CBP_QEL_VALUE_NODE(QelCross)

#undef CBP_QEL_VALUE_NODE

// The hash of the random sequence and the noise lattice (unsigned 32-bit).
uint32_t qelHash(uint32_t value);

// rand(): the next value of one process-wide sequence of hashed counters.
class QelRand final : public QelNode {
public:
    static constexpr uint32_t kFirstSeed = 1972;

    float eval(const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelRand"; }

    // The value the sequence gives for a counter value, in [0, 1].
    static float valueOf(uint32_t seed);
    // The counter value the next evaluation takes.
    static uint32_t nextSeed();
    // Restarts the sequence (tests that need known values).
    static void restartSequence(uint32_t seed = kFirstSeed);
};

// noise() and snoise(): gradient noise along a row of the plane.
class QelNoise final : public QelNode {
public:
    static constexpr int kGradients = 128;

    explicit QelNoise(bool isSigned);
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelNoise"; }

    bool isSigned() const { return signed_; }
    // The signed noise value at (x, y), in about [-1, 1].
    float signedNoise(float x, float y) const;

private:
    zt::vec2f gradients_[kGradients];
    bool signed_;
};

class QelStringConstant final : public QelNode {
public:
    explicit QelStringConstant(std::string text) : text_(std::move(text)) {}
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelStringConstant"; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// The two numeric constants: one float, converted from the token's text.
class QelNumberConstant : public QelNode {
public:
    explicit QelNumberConstant(float value) : value_(value) {}
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    bool isConstant() const override { return true; }
    float value() const { return value_; }

private:
    float value_;
};

class QelIntConstant final : public QelNumberConstant {
public:
    using QelNumberConstant::QelNumberConstant;
    const char* className() const override { return "QelIntConstant"; }
};

class QelFloatConstant final : public QelNumberConstant {
public:
    using QelNumberConstant::QelNumberConstant;
    const char* className() const override { return "QelFloatConstant"; }
};

// A string expression: its children are the literal and expression segments.
class QelString final : public QelNode {
public:
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelString"; }
};

// $name: the environment variable named by the child string constant.
class QelEnv final : public QelNode {
public:
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelEnv"; }
};

// bname: the name of the context's body.
class QelBName final : public QelNode {
public:
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelBName"; }
};

// posx, posy, posz: one axis of the position under evaluation.
class QelPos final : public QelNode {
public:
    explicit QelPos(int axis) : axis_(axis) {}
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelPos"; }
    int axis() const { return axis_; }

private:
    int32_t axis_;
};

// ~deg[k:v ...]: child 0 is the degree node; the curve is built at parse time.
class QelCurve final : public QelNode {
public:
    // Takes the degree node; keyframes are (frame, value) pairs in text order.
    QelCurve(QelNode* degree, const zt::vec2f* keyframes, int64_t count);
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelCurve"; }
    const zt::curve& curve() const { return *curve_; }

private:
    std::unique_ptr<zt::curve> curve_;
};

// @'name' or @'name'(time): the value of another expression, resolved
// through the context per component and cached until the target dies.
class QelRef final : public QelNode {
public:
    QelRef();
    // Removes itself from its targets' referrer lists.
    ~QelRef() override;
    // Keeps the context and sizes the visiting flags; operands stay bound
    // where they were.
    void bind(Cb::QelContext* context) override;
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) override;
    bool refersTo(const std::string& name) override;
    const char* className() const override { return "QelRef"; }

    // Clears every target slot holding `target`, which is going away.
    void forgetTarget(const QelNode* target);
    QelNode* target(int component) const;
    int visitingSlots() const { return int(visiting_.size()); }

private:
    class Visit;
    // The visiting flag of a slot, null for a slot the flags do not cover.
    uint8_t* flagOf(int thread);
    // Empties the target slots and leaves the targets' referrer lists.
    void releaseTargets();
    QelNode* resolvedTarget(const Cb::FrameTime& t, int component, int thread);
    Cb::FrameTime shiftedTime(const Cb::FrameTime& t, int component, int thread) const;

    std::vector<uint8_t> visiting_;
    std::atomic<QelNode*> targets_[3];
};

// .name or /name: a channel of the context's own shape, per element.
class QelImplicitChannelValue final : public QelNode {
public:
    void bind(Cb::QelContext* context) override;
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    float evalAt(const zt::vec3f& position, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelImplicitChannelValue"; }
    Cb::Channel* channel() const { return channel_; }

private:
    Cb::Channel* channel_ = nullptr;
};

// Shape.channel or Shape.channel(position): children shape name, channel
// name and the optional position.
class QelChannelSample final : public QelNode {
public:
    void bind(Cb::QelContext* context) override;
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    float evalAt(const zt::vec3f& position, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelChannelSample"; }
    Cb::Channel* channel() const { return channel_; }
    const std::string& shapeName() const { return shapeName_; }
    const std::string& channelName() const { return channelName_; }
    bool sameShape() const { return sameShape_; }

private:
    Cb::Channel* channel_ = nullptr;
    std::string shapeName_;
    std::string channelName_;
    bool sameShape_ = false;
};

// :'operation' or :'operation'(position): a field operation of the context.
class QelFieldOpSample final : public QelNode {
public:
    void bind(Cb::QelContext* context) override;
    float eval(const Cb::FrameTime& t, int component, int thread) override;
    float evalAt(const zt::vec3f& position, const Cb::FrameTime& t, int component, int thread) override;
    const char* className() const override { return "QelFieldOpSample"; }
    int fieldOpIndex() const { return index_; }

private:
    int32_t index_ = -1;
};

}  // namespace Cbp
