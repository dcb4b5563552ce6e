// Keyframed curves: the zt classes on their own and through ~[...] texts.
#include "QelTestSupport.h"
#include "zt/curve.h"

using namespace qeltest;

namespace {

class QelCurves : public QelTest {};

template <class Curve>
Curve built(const std::vector<std::pair<double, double>>& keys) {
    Curve c;
    for (const auto& [x, y] : keys) c.addKeyframe(x, y);
    c.rebuild();
    return c;
}

TEST_F(QelCurves, TextsTakeDegreeAndParseTimeKeyframes) {
    // Keyframe operands are whole expressions evaluated once, at time zero; a
    // blank and a negative number start the next keyframe, otherwise minus
    // subtracts; duplicate keys keep the first; keys are sorted.
    const std::pair<std::string, std::string> forms[] = {
        {"~ 2 [0:0 1:1]", "~2[0:0 1:1]"}, {"~[0:1+1 2*5:frame+3 -4:-1]", "~1[-4:-1 0:2 10:3]"},
        {"~[0:1 -10:0 5:3-1 6:(2 -1)]", "~1[-10:0 0:1 5:2 6:1]"}, {"~[0:0 5:1 5:7 10:0]", "~1[0:0 5:1 10:0]"},
        {"~3[0.5:-1.25 1e6:3]", "~3[0.5:-1.25 1e+06:3]"}};
    for (const auto& [text, form] : forms) {
        std::string out;
        static_cast<Cbp::QelCurve&>(*parse(text)).curve().toString(out);
        EXPECT_EQ(form, out) << text;
    }
    // Linear curves hold their ends, one keyframe is a constant, quadratic segments follow the derivatives.
    const std::tuple<const char*, float, float> values[] = {
        {"~[0:0 10:10]", 5, 5},        {"~[0:0 10:10]", -3, 0},           {"~[0:0 10:10]", 12, 10},
        {"~3[0:4]", 1, 4},             {"~[0:0 5:1 5:7 10:0]", 5, 1},     {"~2[0:0 1:1 2:0]", 0.5f, 0.25f},
        {"~2[0:0 1:1 2:0]", 1.5f, 1.25f}, {"~2[0:0 1:1 2:0]", 2, 0}};
    for (const auto& [text, frame, expected] : values) EXPECT_EQ(expected, value(text, atFrame(frame))) << text << frame;
}

TEST_F(QelCurves, CubicSegmentsMeetTheKeyframesWithTension) {
    const std::vector<std::pair<double, double>> keys = {{0, 0}, {1, 1}, {2, 0}, {4, 3}, {4.5, -2}};
    auto c = built<zt::cubic_curve>(keys);
    for (size_t i = 0; i + 1 < keys.size(); ++i)
        for (size_t k : {i, i + 1}) EXPECT_NEAR(keys[k].second, c.evaluateSegment(int(i), keys[k].first), 1e-12) << i;
    // Segment 0 with tension 0.1: p = y0 = 0, q = y2 = 0, t = 0.5:
    // a = -1.9, b = 2.8, c = 0.1, d = 0 -> ((a/2 + b)/2 + c)/2.
    EXPECT_NEAR(((-1.9 * 0.5 + 2.8) * 0.5 + 0.1) * 0.5, c.evaluate(0.5), 1e-12);
}

TEST_F(QelCurves, FindSegmentStepRebuildFailuresAndSegmentsNotYetBuilt) {
    auto c = built<zt::linear_curve>({{10, 1}, {0, 0}, {20, 5}, {10, 9}});
    EXPECT_EQ(-1, zt::linear_curve().findSegment(0.0));
    // A position equal to a key belongs to the segment ending there.
    const std::pair<double, int> segments[] = {{0.0, -1}, {0.5, 0}, {10.0, 0}, {10.5, 1}, {20.0, 2}, {1e9, 2}};
    for (const auto& [x, segment] : segments) EXPECT_EQ(segment, c.findSegment(x)) << x;
    // Steps of at most half a unit land on every keyframe; each returns the value where it lands.
    auto s = built<zt::linear_curve>({{0, 0}, {1, 2}, {2.2, 0}});
    const std::tuple<double, double, double> steps[] = {
        {-1.0, 0.0, 0.0}, {0.0, 0.5, 1.0}, {0.5, 1.0, 2.0}, {1.0, 1.5, 2.0 - 0.5 * 2.0 / 1.2}, {2.0, 2.2, 0.0},
        {2.2, 5.0, 0.0}};
    for (const auto& [from, to, y] : steps) {
        double next = -100.0;
        EXPECT_DOUBLE_EQ(y, s.step(from, 5.0, &next)) << from;
        EXPECT_EQ(to, next) << from;
    }
    double next = 1.0;
    EXPECT_EQ(0.0, zt::linear_curve().step(0.0, 7.0, &next));
    EXPECT_EQ(7.0, next);
    // Curves without keyframes cannot be built; segments added since the last build cannot be evaluated.
    EXPECT_EQ("linear_curve::rebuild - No keyframes", messageOf([] { zt::linear_curve().rebuild(); }));
    EXPECT_EQ("quadratic_curve::rebuild - No keyframes", messageOf([] { zt::quadratic_curve().rebuild(); }));
    EXPECT_EQ("cubic_curve::rebuild - No keyframes", messageOf([] { zt::cubic_curve().rebuild(); }));
    auto grown = built<zt::linear_curve>({{0, 0}, {1, 1}});
    grown.addKeyframe(2, 5);
    EXPECT_EQ("curve segment 1 is not built (1 segments)", messageOf([&] { grown.evaluate(1.5); }));
    EXPECT_EQ("curve segment -1 is not built (1 segments)", messageOf([&] { grown.evaluateSegment(-1, 0.0); }));
    grown.rebuild();
    EXPECT_EQ(3.0, grown.evaluate(1.5));
}

}  // namespace
