// Keyframed curves: the zt classes on their own and through ~[...] texts.
#include <memory>

#include "QelTestSupport.h"
#include "zt/curve.h"

using namespace qeltest;

namespace {

class QelCurves : public QelTest {};

float atFrame(const std::string& text, float frame) {
    Cb::FrameTime t;
    t.frame = frame;
    return value(text, t);
}

TEST_F(QelCurves, LinearCurvesHoldTheirEnds) {
    EXPECT_EQ(5.0f, atFrame("~[0:0 10:10]", 5.0f));
    EXPECT_EQ(0.0f, atFrame("~[0:0 10:10]", -3.0f));
    EXPECT_EQ(10.0f, atFrame("~[0:0 10:10]", 12.0f));
    EXPECT_EQ(10.0f, atFrame("~[0:0 10:10]", 10.0f));
    EXPECT_EQ(2.5f, atFrame("~1[0:0 10:10]", 2.5f));
    for (float f : {-100.0f, 0.0f, 3.5f, 1e6f}) EXPECT_EQ(1.0f, atFrame("~[0:1]", f)) << f;
    for (float f : {-1.0f, 0.0f, 1.0f}) EXPECT_EQ(4.0f, atFrame("~3[0:4]", f)) << f;
}

TEST_F(QelCurves, DuplicateKeysKeepTheFirstAndKeysAreSorted) {
    NodePtr node = parse("~[0:0 5:1 5:7 10:0]");
    const zt::curve& c = static_cast<Cbp::QelCurve&>(*node).curve();
    unsigned count = 0;
    const zt::keyframe* keys = c.keyframes(&count);
    ASSERT_EQ(3u, count);
    EXPECT_EQ(5.0, keys[1].x);
    EXPECT_EQ(1.0, keys[1].y);
    EXPECT_EQ(1.0f, atFrame("~[0:0 5:1 5:7 10:0]", 5.0f));
    EXPECT_EQ(0.5f, atFrame("~[10:1 0:0]", 5.0f));
    EXPECT_EQ(0.5f, atFrame("~[10:1 0:0]", 5.0f));
}

TEST_F(QelCurves, QuadraticSegmentsFollowTheDerivatives) {
    EXPECT_EQ(0.25f, atFrame("~2[0:0 1:1 2:0]", 0.5f));
    EXPECT_EQ(1.0f, atFrame("~2[0:0 1:1 2:0]", 1.0f));
    EXPECT_EQ(1.25f, atFrame("~2[0:0 1:1 2:0]", 1.5f));
    EXPECT_EQ(0.0f, atFrame("~2[0:0 1:1 2:0]", 2.0f));
    zt::quadratic_curve q;
    q.addKeyframe(0, 0);
    q.addKeyframe(1, 1);
    q.addKeyframe(2, 0);
    q.rebuild();
    // Segment 1: a = -3, b = 2, c = 1 around x = 1.
    EXPECT_DOUBLE_EQ(-3.0 * 0.25 + 2.0 * 0.5 + 1.0, q.evaluateSegment(1, 1.5));
    EXPECT_DOUBLE_EQ(-3.0 + 2.0 + 1.0, q.evaluateSegment(1, 2.0));
    EXPECT_DOUBLE_EQ(0.0, q.evaluateSegment(0, 0.0));
}

TEST_F(QelCurves, CubicCurvesPassThroughTheirKeyframes) {
    zt::cubic_curve c;
    EXPECT_EQ(0.1, c.tension());
    const double keys[][2] = {{0, 0}, {1, 1}, {2, 0}, {4, 3}, {4.5, -2}};
    for (const auto& k : keys) c.addKeyframe(k[0], k[1]);
    c.rebuild();
    for (int i = 0; i + 1 < 5; ++i) {
        EXPECT_NEAR(keys[i][1], c.evaluateSegment(i, keys[i][0]), 1e-12) << i;
        EXPECT_NEAR(keys[i + 1][1], c.evaluateSegment(i, keys[i + 1][0]), 1e-12) << i;
    }
    // Segment 0 with tension 0.1: p = y0 = 0, q = y2 = 0, t = 0.5:
    // a = -1.9, b = 2.8, c = 0.1, d = 0 -> ((a/2 + b)/2 + c)/2.
    EXPECT_NEAR(((-1.9 * 0.5 + 2.8) * 0.5 + 0.1) * 0.5, c.evaluate(0.5), 1e-12);
    for (float f : {0.0f, 1.0f, 2.0f}) EXPECT_NEAR(f == 1.0f ? 1.0f : 0.0f, atFrame("~3[0:0 1:1 2:0]", f), 1e-6);
    EXPECT_EQ(3, static_cast<Cbp::QelCurve&>(*parse("~3[0:0 1:1 2:0]")).curve().degree());
}

TEST_F(QelCurves, DegreeTokensAreSingleDigitsAfterTheTilde) {
    for (const char* text : {"~2.5[0:0 1:1]", "~0[0:0]", "~4[0:0]", "~(2)[0:0]", "~ -1[0:0]"})
        EXPECT_EQ(std::string("Bad QEL expression: ") + text, failure([&] { parse(text); })) << text;
}

TEST_F(QelCurves, FindSegmentAndAddKeyframe) {
    zt::linear_curve c;
    EXPECT_EQ(-1, c.findSegment(0.0));
    EXPECT_EQ(0, c.addKeyframe(10, 1));
    EXPECT_EQ(0, c.addKeyframe(0, 0));
    EXPECT_EQ(2, c.addKeyframe(20, 5));
    EXPECT_EQ(-1, c.addKeyframe(10, 9));
    EXPECT_EQ(3u, c.keyframeCount());
    EXPECT_EQ(-1, c.findSegment(-0.5));
    EXPECT_EQ(-1, c.findSegment(0.0));  // equal to a key: the segment ending there
    EXPECT_EQ(0, c.findSegment(0.5));
    EXPECT_EQ(0, c.findSegment(10.0));
    EXPECT_EQ(1, c.findSegment(10.5));
    EXPECT_EQ(2, c.findSegment(20.0));
    EXPECT_EQ(2, c.findSegment(1e9));
    unsigned count = 0;
    EXPECT_EQ(0.0, c.keyframes(&count)[0].x);
    EXPECT_EQ(3u, count);
    EXPECT_NE(nullptr, c.keyframes(nullptr));
    EXPECT_EQ(nullptr, zt::linear_curve().keyframes(&count));
    EXPECT_EQ(0u, count);
}

TEST_F(QelCurves, RebuildWithoutKeyframesFails) {
    EXPECT_EQ("linear_curve::rebuild - No keyframes", failure([] { zt::linear_curve().rebuild(); }));
    EXPECT_EQ("quadratic_curve::rebuild - No keyframes", failure([] { zt::quadratic_curve().rebuild(); }));
    EXPECT_EQ("cubic_curve::rebuild - No keyframes", failure([] { zt::cubic_curve().rebuild(); }));
    EXPECT_EQ(0.0, zt::cubic_curve().evaluate(3.0));
}

TEST_F(QelCurves, SegmentsAddedSinceTheLastRebuildAreRefused) {
    zt::linear_curve c;
    c.addKeyframe(0, 0);
    c.addKeyframe(1, 1);
    c.rebuild();
    c.addKeyframe(2, 5);
    EXPECT_EQ(0.5, c.evaluate(0.5));
    EXPECT_EQ("curve segment 1 is not built (1 segments)", failure([&] { c.evaluate(1.5); }));
    EXPECT_EQ("curve segment -1 is not built (1 segments)", failure([&] { c.evaluateSegment(-1, 0.0); }));
    c.rebuild();
    EXPECT_EQ(3.0, c.evaluate(1.5));
}

TEST_F(QelCurves, StepWalksInHalfUnitsLandingOnEveryKeyframe) {
    zt::linear_curve c;
    c.addKeyframe(0, 0);
    c.addKeyframe(1, 2);
    c.addKeyframe(2.2, 0);
    c.rebuild();
    double x = -1.0;
    std::vector<double> xs;
    std::vector<double> ys;
    for (int i = 0; i < 10 && x < 5.0; ++i) {
        double next = 0.0;
        ys.push_back(c.step(x, 5.0, &next));
        xs.push_back(next);
        x = next;
    }
    EXPECT_EQ((std::vector<double>{0.0, 0.5, 1.0, 1.5, 2.0, 2.2, 5.0}), xs);
    ASSERT_EQ(7u, ys.size());
    EXPECT_EQ(0.0, ys[0]);
    EXPECT_EQ(1.0, ys[1]);
    EXPECT_EQ(2.0, ys[2]);
    EXPECT_DOUBLE_EQ(2.0 - 0.5 * 2.0 / 1.2, ys[3]);
    EXPECT_EQ(0.0, ys[6]);
    double next = 1.0;
    EXPECT_EQ(0.0, zt::linear_curve().step(0.0, 7.0, &next));
    EXPECT_EQ(7.0, next);
}

TEST_F(QelCurves, TextFormAndDeepCopies) {
    std::string text;
    static_cast<Cbp::QelCurve&>(*parse("~[0:0 10:1]")).curve().toString(text);
    EXPECT_EQ("~1[0:0 10:1]", text);
    static_cast<Cbp::QelCurve&>(*parse("~3[0.5:-1.25 1e6:3]")).curve().toString(text);
    EXPECT_EQ("~3[0.5:-1.25 1e+06:3]", text);

    zt::quadratic_curve original;
    original.addKeyframe(0, 0);
    original.addKeyframe(1, 1);
    original.addKeyframe(2, 0);
    original.rebuild();
    std::unique_ptr<zt::curve> copy(original.clone());
    original.addKeyframe(3, 10);
    original.rebuild();
    EXPECT_EQ(2, copy->degree());
    EXPECT_EQ(3u, copy->keyframeCount());
    EXPECT_EQ(1.25, copy->evaluate(1.5));
    EXPECT_EQ(0.0, copy->evaluate(3.0));
    EXPECT_NE(0.0, original.evaluate(3.0));
    std::unique_ptr<zt::curve> cubic(zt::cubic_curve(0.3).clone());
    EXPECT_EQ(0.3, static_cast<zt::cubic_curve&>(*cubic).tension());
}

}  // namespace
