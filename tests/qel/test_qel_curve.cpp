// Keyframed curves: the zt classes on their own and through ~[...] texts.
#include <memory>

#include "QelTestSupport.h"
#include "zt/curve.h"

using namespace qeltest;

namespace {

class QelCurves : public QelTest {};

template <class Curve>
Curve built(std::initializer_list<std::pair<double, double>> keys) {
    Curve c;
    for (const auto& [x, y] : keys) c.addKeyframe(x, y);
    c.rebuild();
    return c;
}

TEST_F(QelCurves, TextsTakeDegreeAndParseTimeKeyframes) {
    const std::pair<std::string, std::string> forms[] = {
        {"~ 2 [0:0 1:1]", "~2[0:0 1:1]"},
        // Keyframe operands are whole expressions evaluated once, at time zero.
        {"~[0:1+1 2*5:frame+3 -4:-1]", "~1[-4:-1 0:2 10:3]"},
        // A blank and a negative number start the next keyframe; otherwise minus subtracts.
        {"~[0:1 -10:0 5:3-1 6:(2 -1)]", "~1[-10:0 0:1 5:2 6:1]"},
        // Duplicate keys keep the first; keys are sorted.
        {"~[0:0 5:1 5:7 10:0]", "~1[0:0 5:1 10:0]"},
        {"~3[0.5:-1.25 1e6:3]", "~3[0.5:-1.25 1e+06:3]"}};
    for (const auto& [text, form] : forms) {
        std::string out;
        static_cast<Cbp::QelCurve&>(*parse(text)).curve().toString(out);
        EXPECT_EQ(form, out) << text;
    }
    // Linear curves hold their ends, one keyframe is a constant, quadratic segments follow the derivatives.
    const std::tuple<const char*, float, float> values[] = {
        {"~[0:0 10:10]", 5, 5},       {"~[0:0 10:10]", -3, 0},          {"~[0:0 10:10]", 12, 10},
        {"~3[0:4]", 1, 4},            {"~[0:0 5:1 5:7 10:0]", 5, 1},    {"~2[0:0 1:1 2:0]", 0.5f, 0.25f},
        {"~2[0:0 1:1 2:0]", 1, 1},    {"~2[0:0 1:1 2:0]", 1.5f, 1.25f}, {"~2[0:0 1:1 2:0]", 2, 0}};
    for (const auto& [text, frame, expected] : values) EXPECT_EQ(expected, value(text, atFrame(frame))) << text << frame;
}

TEST_F(QelCurves, CubicSegmentsMeetTheKeyframesAndClonesAreDeep) {
    const double keys[][2] = {{0, 0}, {1, 1}, {2, 0}, {4, 3}, {4.5, -2}};
    auto c = built<zt::cubic_curve>({{0, 0}, {1, 1}, {2, 0}, {4, 3}, {4.5, -2}});
    for (int i = 0; i + 1 < 5; ++i) {
        EXPECT_NEAR(keys[i][1], c.evaluateSegment(i, keys[i][0]), 1e-12) << i;
        EXPECT_NEAR(keys[i + 1][1], c.evaluateSegment(i, keys[i + 1][0]), 1e-12) << i;
    }
    // Segment 0 with tension 0.1: p = y0 = 0, q = y2 = 0, t = 0.5:
    // a = -1.9, b = 2.8, c = 0.1, d = 0 -> ((a/2 + b)/2 + c)/2.
    EXPECT_NEAR(((-1.9 * 0.5 + 2.8) * 0.5 + 0.1) * 0.5, c.evaluate(0.5), 1e-12);
    // Clones are deep copies.
    std::unique_ptr<zt::curve> copy(c.clone());
    c.addKeyframe(5, 10);
    c.rebuild();
    EXPECT_EQ(5u, copy->keyframeCount());
    EXPECT_EQ(-2.0, copy->evaluate(5.0));
}

TEST_F(QelCurves, FindSegmentAndStep) {
    auto c = built<zt::linear_curve>({{10, 1}, {0, 0}, {20, 5}, {10, 9}});
    EXPECT_EQ(-1, zt::linear_curve().findSegment(0.0));
    // A position equal to a key belongs to the segment ending there.
    const std::pair<double, int> segments[] = {{-0.5, -1}, {0.0, -1}, {0.5, 0}, {10.0, 0},
                                               {10.5, 1},  {20.0, 2}, {1e9, 2}};
    for (const auto& [x, segment] : segments) EXPECT_EQ(segment, c.findSegment(x)) << x;
    // Steps of half a unit land on every keyframe.
    auto s = built<zt::linear_curve>({{0, 0}, {1, 2}, {2.2, 0}});
    double x = -1.0;
    std::vector<double> xs, ys;
    for (int i = 0; i < 10 && x < 5.0; ++i) {
        ys.push_back(s.step(x, 5.0, &x));
        xs.push_back(x);
    }
    EXPECT_EQ((std::vector<double>{0.0, 0.5, 1.0, 1.5, 2.0, 2.2, 5.0}), xs);
    EXPECT_EQ((std::vector<double>{0.0, 1.0, 2.0}), std::vector<double>(ys.begin(), ys.begin() + 3));
    EXPECT_DOUBLE_EQ(2.0 - 0.5 * 2.0 / 1.2, ys.at(3));
    double next = 1.0;
    EXPECT_EQ(0.0, zt::linear_curve().step(0.0, 7.0, &next));
    EXPECT_EQ(7.0, next);
}

TEST_F(QelCurves, RebuildFailuresAndSegmentsNotYetBuilt) {
    EXPECT_EQ("linear_curve::rebuild - No keyframes", messageOf([] { zt::linear_curve().rebuild(); }));
    EXPECT_EQ("quadratic_curve::rebuild - No keyframes", messageOf([] { zt::quadratic_curve().rebuild(); }));
    EXPECT_EQ("cubic_curve::rebuild - No keyframes", messageOf([] { zt::cubic_curve().rebuild(); }));
    auto c = built<zt::linear_curve>({{0, 0}, {1, 1}});
    c.addKeyframe(2, 5);
    EXPECT_EQ(0.5, c.evaluate(0.5));
    EXPECT_EQ("curve segment 1 is not built (1 segments)", messageOf([&] { c.evaluate(1.5); }));
    EXPECT_EQ("curve segment -1 is not built (1 segments)", messageOf([&] { c.evaluateSegment(-1, 0.0); }));
    c.rebuild();
    EXPECT_EQ(3.0, c.evaluate(1.5));
}

}  // namespace
