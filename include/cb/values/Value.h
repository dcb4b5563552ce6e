#pragma once
// Cb::Value<T,N>: a numeric or string value of N components, each a QEL text
// with its parsed tree and four limits (hard and soft minimum and maximum).
// Instantiated for (int,1), (int64_t,1), (float,1), (float,3), (int,3) and
// (Cb::String,1).

#include <array>
#include <cstdint>
#include <string>

#include "cb/String.h"
#include "cb/values/ValueBase.h"

namespace Cb {

// Limits start at +-1e9, not at the float range.
constexpr double kDefaultMinLimit = -1000000000.0;
constexpr double kDefaultMaxLimit = 1000000000.0;

template <class T, int N>
class Value : public ValueBase {
public:
    static_assert(N == 1 || N == 3);
    static constexpr bool isString = std::is_same_v<T, String>;

    // Every component's text is set to "" (and parsed).
    explicit Value(const std::string& name);
    // Component texts given in order.
    Value(const std::string& name, const std::array<std::string, N>& texts);
    ~Value() override;

    void bind(QelContext* context) override;
    int typeCode() const override;
    std::string typeName() const override;
    bool refersTo(const std::string& name) const override;
    void evalString(std::string& out, const FrameTime& time, int component, int thread) override;
    ValueBase* clone() const override;
    int componentCount() const override { return N; }
    std::string expression(int component) const override;
    // Numbers parse with the component's hard limits (a constant outside them
    // is refused); strings parse as string expressions. Failures are thrown as
    // "Error setting value on " + name() + ":" + message, leaving the previous
    // text and tree in place.
    void setExpression(const std::string& text, int component) override;
    void setMin(const std::string& text, int component) override;
    void setMax(const std::string& text, int component) override;
    void setSoftRange(const std::string& minText, const std::string& maxText, int component) override;
    bool isConstant(int component) const override;
    Cbp::QelNode* node(int component) const override;
    double evalNumber(const FrameTime& time, int component, int thread) override;
    void writePayload(ZtpOutput& out) const override;
    void read(ZtpInput& in) override;

    // evalString of component 0's tree, clamped to component 0's limits; the
    // given component index is handed on to the tree.
    void evalStringComponent0(std::string& out, const FrameTime& time, int component, int thread);

    // The typed value of a component: numbers clamped to the hard limits and
    // converted toward zero for integer types; strings evaluated as text.
    T evaluate(const FrameTime& time, int component = 0, int thread = 0);

    double hardMin(int c) const { return hardMin_[index(c)]; }
    double hardMax(int c) const { return hardMax_[index(c)]; }
    double softMin(int c) const { return softMin_[index(c)]; }
    double softMax(int c) const { return softMax_[index(c)]; }

protected:
    Value(const Value& other);

private:
    static int index(int c) { return c < 0 ? 0 : (c >= N ? N - 1 : c); }
    float clampToLimits(float v, int c) const;

    std::array<std::string, N> texts_;
    std::array<Cbp::QelNode*, N> trees_{};
    std::array<double, N> hardMin_;
    std::array<double, N> hardMax_;
    std::array<double, N> softMin_;
    std::array<double, N> softMax_;
};

using Value1i = Value<int, 1>;
using Value1i64 = Value<int64_t, 1>;
using Value1f = Value<float, 1>;
using Value3f = Value<float, 3>;
using Value3i = Value<int, 3>;
using Value1s = Value<String, 1>;

extern template class Value<int, 1>;
extern template class Value<int64_t, 1>;
extern template class Value<float, 1>;
extern template class Value<float, 3>;
extern template class Value<int, 3>;
extern template class Value<String, 1>;

// Applies the library thread count whenever its text is set; created with the
// text "2", which is not applied at creation.
class ThreadCountValue : public Value<int, 1> {
public:
    explicit ThreadCountValue(const std::string& name);
    // The Value behaviour, then the value evaluated once at the default time,
    // clamped to the hard limits and applied (see Cb::applyLibraryThreadCount).
    void setExpression(const std::string& text, int component) override;
    ValueBase* clone() const override;

protected:
    ThreadCountValue(const ThreadCountValue& other) = default;
};

// Frames per second; behaves as Value<int,1>, created with the text "24".
class FpsValue : public Value<int, 1> {
public:
    explicit FpsValue(const std::string& name);
    ValueBase* clone() const override;

protected:
    FpsValue(const FpsValue& other) = default;
};

}  // namespace Cb
