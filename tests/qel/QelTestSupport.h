#pragma once
// Helpers of the QEL tests: tree outlines, one-line parse-and-evaluate, and a
// fixture that owns the global context.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cb/qel/QelContext.h"
#include "cb/qel/QelNodes.h"
#include "cb/qel/QelParser.h"

namespace qeltest {

using NodePtr = std::unique_ptr<Cbp::QelNode>;

constexpr float kNoMin = -3.4028235e38f;
constexpr float kNoMax = 3.4028235e38f;

inline NodePtr parse(const std::string& text) { return NodePtr(Cb::parseExpression(text, kNoMin, kNoMax)); }

// Class names with children in order, "-" for an absent child, and the
// stored value of constants, strings, axes and the noise sign.
std::string outline(const Cbp::QelNode* node);
inline std::string outline(const std::string& text) { return outline(parse(text).get()); }

// The expression's value at t, component c, slot k (default time record).
float value(const std::string& text, const Cb::FrameTime& t = Cb::FrameTime(), int c = 0, int k = 0);
std::string stringValue(const std::string& text, const Cb::FrameTime& t = Cb::FrameTime());

// The message of the ztx::base that `f` throws ("" when it throws none).
template <class F>
std::string failure(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The global context exists for every test of the fixture.
class QelTest : public ::testing::Test {
protected:
    void SetUp() override { Cb::QelContext::createGlobal(); }
    void TearDown() override { Cb::QelContext::destroyGlobal(); }
};

}  // namespace qeltest
