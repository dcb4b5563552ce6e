#pragma once
// Helpers of the QEL tests: tree outlines, one-line parse-and-evaluate, and a
// fixture that owns the global context.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "MessageOf.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNodes.h"
#include "cb/qel/QelParser.h"

namespace qeltest {

using NodePtr = std::unique_ptr<Cbp::QelNode>;
using testsupport::messageOf;

constexpr float kNoMax = 3.4028235e38f;  // the float range: no bounds

inline NodePtr parse(const std::string& text) { return NodePtr(Cb::parseExpression(text, -kNoMax, kNoMax)); }

// Class names without "Qel" with children in order, "-" for an absent child,
// the axis and the noise sign; integer constants as their value, float
// constants with an "f" after it, string constants in single quotes.
inline std::string outline(const Cbp::QelNode* node) {
    if (!node) return "-";
    std::ostringstream os;
    if (auto* i = dynamic_cast<const Cbp::QelIntConstant*>(node)) return (os << i->value(), os.str());
    if (auto* f = dynamic_cast<const Cbp::QelFloatConstant*>(node)) return (os << f->value() << 'f', os.str());
    if (auto* s = dynamic_cast<const Cbp::QelStringConstant*>(node)) return "'" + s->text() + "'";
    os << std::string(node->className()).substr(3);
    if (auto* p = dynamic_cast<const Cbp::QelPos*>(node)) os << '=' << p->axis();
    if (auto* n = dynamic_cast<const Cbp::QelNoise*>(node)) os << (n->isSigned() ? "=signed" : "=unsigned");
    for (int64_t i = 0; i < node->childCount(); ++i) os << (i ? ", " : "(") << outline(node->child(i));
    if (node->childCount() > 0) os << ')';
    return os.str();
}
inline std::string outline(const std::string& text) { return outline(parse(text).get()); }

inline Cb::FrameTime atFrame(float frame) { return {.frame = frame}; }

// The expression's value at t, component c, slot 0.
inline float value(const std::string& s, const Cb::FrameTime& t = {}, int c = 0) { return parse(s)->eval(t, c, 0); }

// The global context exists for every test of the fixture.
class QelTest : public ::testing::Test {
protected:
    void SetUp() override { Cb::QelContext::createGlobal(); }
    void TearDown() override { Cb::QelContext::destroyGlobal(); }
};

}  // namespace qeltest
