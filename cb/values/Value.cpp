#include "cb/values/Value.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "cb/Log.h"
#include "cb/ThreadCount.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/qel/QelNodes.h"
#include "cb/qel/QelParser.h"
#include "cb/values/ValueObject.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

template <class T>
T toNumber(float v) {
    if constexpr (std::is_floating_point_v<T>) {
        return T(v);
    } else {
        // NaN and out-of-range values must not reach an integer conversion.
        if (std::isnan(v)) return T(0);
        const double lo = double(std::numeric_limits<T>::min());
        const double hi = double(std::numeric_limits<T>::max());
        double d = std::trunc(double(v));
        if (d <= lo) return std::numeric_limits<T>::min();
        if (d >= hi) return std::numeric_limits<T>::max();
        return T(d);
    }
}

// Trees of values that were accepted once are re-parsed without bounds.
Cbp::QelNode* reparse(const std::string& text, bool isString) {
    if (isString) return static_cast<Cbp::QelNode*>(parseStringExpression(text));
    const float inf = std::numeric_limits<float>::infinity();
    return parseExpression(text, -inf, inf);
}

}  // namespace

template <class T, int N>
Value<T, N>::Value(const std::string& name) : ValueBase(name) {
    hardMin_.fill(kDefaultMinLimit);
    hardMax_.fill(kDefaultMaxLimit);
    softMin_.fill(kDefaultMinLimit);
    softMax_.fill(kDefaultMaxLimit);
    for (int c = 0; c < N; ++c) setExpression("", c);
}

template <class T, int N>
Value<T, N>::Value(const std::string& name, const std::array<std::string, N>& texts) : Value(name) {
    for (int c = 0; c < N; ++c) setExpression(texts[size_t(c)], c);
}

template <class T, int N>
Value<T, N>::Value(const Value& other)
    : ValueBase(other),
      texts_(other.texts_),
      hardMin_(other.hardMin_),
      hardMax_(other.hardMax_),
      softMin_(other.softMin_),
      softMax_(other.softMax_) {
    try {
        for (int c = 0; c < N; ++c) trees_[size_t(c)] = reparse(texts_[size_t(c)], isString);
    } catch (...) {
        for (auto* t : trees_) delete t;
        throw;
    }
}

template <class T, int N>
Value<T, N>::~Value() {
    for (auto* t : trees_) delete t;
}

template <class T, int N>
void Value<T, N>::bind(QelContext* context) {
    for (auto* t : trees_)
        if (t) t->bind(context);
}

template <class T, int N>
int Value<T, N>::typeCode() const {
    if constexpr (isString) return 10;
    else if constexpr (std::is_same_v<T, int64_t>) return 11;
    else if constexpr (std::is_same_v<T, float>) return N == 1 ? 1 : 4;
    else return N == 1 ? 0 : 5;
}

template <class T, int N>
std::string Value<T, N>::typeName() const {
    if constexpr (isString) return "value1s";
    else if constexpr (std::is_same_v<T, int64_t>) return "value1i64";
    else if constexpr (std::is_same_v<T, float>) return N == 1 ? "value1f" : "value3f";
    else return N == 1 ? "value1i" : "value3i";
}

template <class T, int N>
bool Value<T, N>::refersTo(const std::string& name) const {
    for (auto* t : trees_)
        if (t && t->refersTo(name)) return true;
    return false;
}

template <class T, int N>
float Value<T, N>::clampToLimits(float v, int c) const {
    const int i = index(c);
    const float lo = float(hardMin_[size_t(i)]), hi = float(hardMax_[size_t(i)]);
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}

template <class T, int N>
void Value<T, N>::evalString(std::string& out, const FrameTime& time, int component, int thread) {
    Cbp::QelNode* tree = node(component);
    if constexpr (isString) {
        tree->evalString(out, time, component, thread);
    } else {
        const int i = index(component);
        tree->evalClampedString(out, time, float(hardMin_[size_t(i)]), float(hardMax_[size_t(i)]), component,
                                thread);
    }
}

template <class T, int N>
void Value<T, N>::evalStringComponent0(std::string& out, const FrameTime& time, int component, int thread) {
    if constexpr (isString)
        trees_[0]->evalString(out, time, component, thread);
    else
        trees_[0]->evalClampedString(out, time, float(hardMin_[0]), float(hardMax_[0]), component, thread);
}

template <class T, int N>
T Value<T, N>::evaluate(const FrameTime& time, int component, int thread) {
    if constexpr (isString) {
        std::string out;
        node(component)->evalString(out, time, component, thread);
        return out;
    } else {
        return toNumber<T>(clampToLimits(node(component)->eval(time, component, thread), component));
    }
}

template <class T, int N>
double Value<T, N>::evalNumber(const FrameTime& time, int component, int thread) {
    if constexpr (isString) {
        return std::atof(evaluate(time, component, thread).c_str());
    } else {
        return double(clampToLimits(node(component)->eval(time, component, thread), component));
    }
}

template <class T, int N>
ValueBase* Value<T, N>::clone() const {
    return new Value(*this);
}

template <class T, int N>
std::string Value<T, N>::expression(int component) const {
    return texts_[size_t(index(component))];
}

template <class T, int N>
void Value<T, N>::setExpression(const std::string& text, int component) {
    std::unique_ptr<Cbp::QelNode> tree;
    try {
        checkComponent(component);
        if constexpr (isString)
            tree.reset(static_cast<Cbp::QelNode*>(parseStringExpression(text)));
        else
            tree.reset(
                parseExpression(text, float(hardMin_[size_t(component)]), float(hardMax_[size_t(component)])));
        // A new tree follows the owner's current context like the others;
        // one that cannot bind to it is refused like one that cannot parse.
        if (owner())
            if (QelContext* ctx = owner()->currentContext()) tree->bind(ctx);
    } catch (const std::exception& e) {
        throw ztx::base(zt::cat("Error setting value on ", name(), ":", e.what()));
    }
    delete trees_[size_t(component)];
    trees_[size_t(component)] = tree.release();
    texts_[size_t(component)] = text;
}

template <class T, int N>
void Value<T, N>::setMin(const std::string& text, int component) {
    checkComponent(component);
    hardMin_[size_t(component)] = std::atof(text.c_str());
}

template <class T, int N>
void Value<T, N>::setMax(const std::string& text, int component) {
    checkComponent(component);
    hardMax_[size_t(component)] = std::atof(text.c_str());
}

template <class T, int N>
void Value<T, N>::setSoftRange(const std::string& minText, const std::string& maxText, int component) {
    checkComponent(component);
    softMin_[size_t(component)] = std::atof(minText.c_str());
    softMax_[size_t(component)] = std::atof(maxText.c_str());
}

template <class T, int N>
bool Value<T, N>::isConstant(int component) const {
    Cbp::QelNode* tree = node(component);
    return tree && tree->isConstant();
}

template <class T, int N>
Cbp::QelNode* Value<T, N>::node(int component) const {
    return trees_[size_t(index(component))];
}

template <class T, int N>
void Value<T, N>::writePayload(ZtpOutput& out) const {
    for (const auto& text : texts_) writeString(out, text);
}

template <class T, int N>
void Value<T, N>::read(ZtpInput& in) {
    for (int c = 0; c < N; ++c) setExpression(readString(in), c);
}

template class Value<int, 1>;
template class Value<int64_t, 1>;
template class Value<float, 1>;
template class Value<float, 3>;
template class Value<int, 3>;
template class Value<String, 1>;

ThreadCountValue::ThreadCountValue(const std::string& name) : Value<int, 1>(name) {
    // Created with the text "2", not applied.
    Value<int, 1>::setExpression("2", 0);
}

void ThreadCountValue::setExpression(const std::string& text, int component) {
    Value<int, 1>::setExpression(text, component);
    const float v = node(0)->eval(FrameTime(), 0, 0);
    int n = toNumber<int>(v);
    const int lo = toNumber<int>(float(hardMin(0))), hi = toNumber<int>(float(hardMax(0)));
    if (n < lo) n = lo;
    if (n > hi) n = hi;
    const int applied = applyLibraryThreadCount(n);
    if (applied != n)
        logWarning(zt::cat("Thread count ", n, " is outside ", kMinThreadCount, "..", kMaxThreadCount, ": using ",
                           applied));
    logInfo(zt::cat("Setting Thread Count: ", applied));
}

ValueBase* ThreadCountValue::clone() const { return new ThreadCountValue(*this); }

FpsValue::FpsValue(const std::string& name) : Value<int, 1>(name) { setExpression("24", 0); }

ValueBase* FpsValue::clone() const { return new FpsValue(*this); }

}  // namespace Cb
