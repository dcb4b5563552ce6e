// Scanner and parser: the trees built for each production, the token corner
// cases, the failures with their texts, string expressions and nesting limits.
#include <string>
#include <utility>
#include <vector>

#include "QelTestSupport.h"
#include "zt/curve.h"

using namespace qeltest;

namespace {

class QelParse : public QelTest {};

TEST_F(QelParse, PrioritiesAndLeftAssociativity) {
    EXPECT_EQ("QelPlus(QelIntConstant=1, QelMul(QelIntConstant=2, QelIntConstant=3))", outline("1 + 2 * 3"));
    EXPECT_EQ("QelLand(QelLor(QelTime, QelFrame), QelDt)", outline("time || frame && dt"));
    EXPECT_EQ("QelLor(QelLand(QelTime, QelFrame), QelDt)", outline("time && frame || dt"));
    EXPECT_EQ("QelMul(QelNeg(QelTime), QelFrame)", outline("-time * frame"));
    EXPECT_EQ("QelMinus(QelMinus(QelIntConstant=8, QelIntConstant=4), QelIntConstant=2)", outline("8 - 4 - 2"));
    EXPECT_EQ("QelMod(QelDiv(QelIntConstant=8, QelIntConstant=4), QelIntConstant=2)", outline("8 / 4 % 2"));
    EXPECT_EQ("QelEq(QelIntConstant=1, QelLt(QelIntConstant=2, QelIntConstant=3))", outline("1 == 2 < 3"));
    EXPECT_EQ("QelNotEq(QelGtEq(QelTime, QelIntConstant=1), QelLtEq(QelFrame, QelIntConstant=2))",
              outline("time >= 1 != frame <= 2"));
    EXPECT_EQ("QelNot(QelNot(QelTime))", outline("!!time"));
    EXPECT_EQ("QelPlus(QelNot(QelTime), QelIntConstant=1)", outline("!time + 1"));
}

TEST_F(QelParse, ConditionalStandsAboveEveryOperator) {
    EXPECT_EQ("QelCond(QelGt(QelTime, QelFrame), QelIntConstant=1, QelIntConstant=2)",
              outline("time > frame ? 1 : 2"));
    EXPECT_EQ("QelCond(QelLor(QelTime, QelDt), QelPlus(QelIntConstant=1, QelIntConstant=2), QelIntConstant=3)",
              outline("time || dt ? 1 + 2 : 3"));
    // Unparenthesised nesting groups to the right.
    EXPECT_EQ("QelCond(QelIntConstant=1, QelIntConstant=2, QelCond(QelIntConstant=0, QelIntConstant=3, "
              "QelIntConstant=4))",
              outline("1 ? 2 : 0 ? 3 : 4"));
    EXPECT_EQ("QelCond(QelIntConstant=1, QelCond(QelIntConstant=0, QelIntConstant=3, QelIntConstant=4), "
              "QelIntConstant=2)",
              outline("1 ? 0 ? 3 : 4 : 2"));
    EXPECT_EQ("QelMul(QelCond(QelTime, QelIntConstant=1, QelIntConstant=2), QelIntConstant=3)",
              outline("(time ? 1 : 2) * 3"));
}

TEST_F(QelParse, GreaterEqualHasTwoSpellings) {
    EXPECT_EQ("QelGtEq(QelTime, QelIntConstant=1)", outline("time => 1"));
    EXPECT_EQ(outline("time >= 1"), outline("time=>1"));
}

TEST_F(QelParse, NumericTokens) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"0x10", "QelIntConstant=16"},
        {"0X1fu", "QelIntConstant=31"},
        {"0x1e5", "QelIntConstant=485"},
        {"42", "QelIntConstant=42"},
        {"7L", "QelIntConstant=7"},
        {"7u", "QelIntConstant=7"},
        {"-3", "QelIntConstant=-3"},
        {"2.5", "QelFloatConstant=2.5"},
        {".5", "QelFloatConstant=0.5"},
        {"5.", "QelFloatConstant=5"},
        {"1e3", "QelFloatConstant=1000"},
        {"2E-1f", "QelFloatConstant=0.2"},
        {"1.5e+2L", "QelFloatConstant=150"},
        {"-.25", "QelFloatConstant=-0.25"},
        {"-1e2", "QelFloatConstant=-100"},
        // A minus before a hexadecimal number is the operator.
        {"-0x10", "QelNeg(QelIntConstant=16)"},
        // A minus with a blank after it is the operator too.
        {"- 3", "QelNeg(QelIntConstant=3)"},
    };
    for (const auto& [text, tree] : cases) EXPECT_EQ(tree, outline(text)) << text;
}

TEST_F(QelParse, MinusAfterAnOperandSubtracts) {
    EXPECT_EQ("QelMinus(QelTime, QelIntConstant=1)", outline("time-1"));
    EXPECT_EQ("QelMinus(QelTime, QelIntConstant=1)", outline("time -1"));
    EXPECT_EQ("QelMinus(QelIntConstant=1, QelIntConstant=2)", outline("1-2"));
    EXPECT_EQ("QelMul(QelIntConstant=3, QelIntConstant=-2)", outline("3*-2"));
    EXPECT_EQ("QelMinus(QelIntConstant=1, QelNeg(QelTime))", outline("1 - -time"));
}

TEST_F(QelParse, StringTokensKeepTheirText) {
    EXPECT_EQ("QelStringConstant='a\\'b'", outline("'a\\'b'"));
    EXPECT_EQ("QelStringConstant='say \\\"hi\\\"'", outline("\"say \\\"hi\\\"\""));
    EXPECT_EQ("QelStringConstant='it's'", outline("\"it's\""));
    EXPECT_EQ("QelStringConstant=''", outline("''"));
    EXPECT_EQ("QelStringConstant='\\\\'", outline("'\\\\'"));
}

TEST_F(QelParse, EmptyTextIsAnEmptyStringConstant) {
    NodePtr node(Cb::parseExpression("", 0.0f, 1.0f));
    EXPECT_EQ("QelStringConstant=''", outline(node.get()));
    EXPECT_EQ(0.0f, node->eval(Cb::FrameTime(), 0, 0));
    EXPECT_FALSE(node->isConstant());
}

TEST_F(QelParse, VariablesAndFunctionsBuildTheirClasses) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"time", "QelTime"},
        {"timestep", "QelTimestep"},
        {"frame", "QelFrame"},
        {"dt", "QelDt"},
        {"frameDt", "QelFrameDt"},
        {"posx", "QelPos=0"},
        {"posy", "QelPos=1"},
        {"posz", "QelPos=2"},
        {"bname", "QelBName"},
        {"sin(1)", "QelSin(QelIntConstant=1)"},
        {"cos(1)", "QelCos(QelIntConstant=1)"},
        {"tan(1)", "QelTan(QelIntConstant=1)"},
        {"abs(1)", "QelAbs(QelIntConstant=1)"},
        {"floor(1)", "QelFloor(QelIntConstant=1)"},
        {"ceil(1)", "QelCeil(QelIntConstant=1)"},
        {"round(1)", "QelRound(QelIntConstant=1)"},
        {"sqr(1)", "QelSqr(QelIntConstant=1)"},
        {"sqrt(1)", "QelSqrt(QelIntConstant=1)"},
        {"pow(1, 2)", "QelPow(QelIntConstant=1, QelIntConstant=2)"},
        {"min(1,2)", "QelMin(QelIntConstant=1, QelIntConstant=2)"},
        {"max(1,2)", "QelMax(QelIntConstant=1, QelIntConstant=2)"},
        {"clamp(1,2,3)", "QelClamp(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3)"},
        {"smoothstep(1,2,3)", "QelSmoothstep(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3)"},
        {"mix(1,2,3)", "QelMix(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3)"},
        {"remap(1,2,3,4,5)",
         "QelRemap(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3, QelIntConstant=4, QelIntConstant=5)"},
        {"remaps(1,2,3,4,5)",
         "QelRemaps(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3, QelIntConstant=4, QelIntConstant=5)"},
        {"rand()", "QelRand"},
        {"rand ( )", "QelRand"},
        {"noise(1)", "QelNoise=unsigned(QelIntConstant=1)"},
        {"snoise(1)", "QelNoise=signed(QelIntConstant=1)"},
        {"mag(1)", "QelMag(QelIntConstant=1)"},
        {"mag2(1)", "QelMag2(QelIntConstant=1)"},
        {"norm(1)", "QelNorm(QelIntConstant=1)"},
        {"vec(1,2,3)", "QelVec(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3)"},
        {"dot(1,2)", "QelDot(QelIntConstant=1, QelIntConstant=2)"},
        {"cross(1,2)", "QelCross(QelIntConstant=1, QelIntConstant=2)"},
        {"grad(1)", "QelGrad(QelIntConstant=1)"},
        {"curv(1)", "QelCurv(QelIntConstant=1)"},
        {"curl(1)", "QelCurl(QelIntConstant=1)"},
        {"(((1)))", "QelIntConstant=1"},
        {"$HOME", "QelEnv(QelStringConstant='HOME')"},
        {"$time", "QelEnv(QelStringConstant='time')"},
    };
    for (const auto& [text, tree] : cases) EXPECT_EQ(tree, outline(text)) << text;
}

TEST_F(QelParse, UnitSuffixAndComponentSelection) {
    for (const char* unit : {"dx", "cells", "cell", "voxel", "voxels"})
        EXPECT_EQ("QelDx(QelIntConstant=2)", outline(std::string("2 ") + unit)) << unit;
    EXPECT_EQ("QelDx(QelIntConstant=2)", outline("2dx"));
    EXPECT_EQ("QelDx(QelDx(QelIntConstant=2))", outline("2 dx cells"));
    EXPECT_EQ("QelPlus(QelIntConstant=1, QelDx(QelIntConstant=2))", outline("1 + 2 dx"));
    EXPECT_EQ("QelNeg(QelDx(QelTime))", outline("-time dx"));
    EXPECT_EQ("QelComp(QelVec(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3), QelIntConstant=1)",
              outline("vec(1,2,3)[1]"));
    EXPECT_EQ("QelComp(QelComp(QelTime, QelIntConstant=2), QelIntConstant=-1)", outline("time[0x2][-1]"));
    EXPECT_EQ("QelDx(QelComp(QelTime, QelIntConstant=0))", outline("time[0] dx"));
    EXPECT_EQ("QelNeg(QelComp(QelTime, QelIntConstant=0))", outline("-time[0]"));
}

TEST_F(QelParse, ChannelForms) {
    EXPECT_EQ("QelImplicitChannelValue(QelStringConstant='density')", outline(".density"));
    EXPECT_EQ("QelImplicitChannelValue(QelStringConstant='density')", outline("/density"));
    EXPECT_EQ("QelChannelSample(QelStringConstant='Particle', QelStringConstant='position', -)",
              outline("Particle.position"));
    EXPECT_EQ("QelChannelSample(QelStringConstant='Field', QelStringConstant='density', -)",
              outline("Field/density"));
    EXPECT_EQ("QelChannelSample(QelStringConstant='Field', QelStringConstant='density', "
              "QelVec(QelIntConstant=1, QelIntConstant=2, QelIntConstant=3))",
              outline("Field.density(vec(1,2,3))"));
    // Reserved words serve as names after a scope separator.
    EXPECT_EQ("QelChannelSample(QelStringConstant='Particle', QelStringConstant='frame', -)",
              outline("Particle.frame"));
    EXPECT_EQ("QelImplicitChannelValue(QelStringConstant='dx')", outline(".dx"));
    // After an operand "/" divides.
    EXPECT_EQ("QelDiv(QelTime, QelFrame)", outline("time/frame"));
    EXPECT_EQ("QelComp(QelChannelSample(QelStringConstant='Particle', QelStringConstant='velocity', -), "
              "QelIntConstant=1)",
              outline("Particle.velocity[1]"));
}

TEST_F(QelParse, FieldOperationSamplesAndReferences) {
    EXPECT_EQ("QelFieldOpSample(QelStringConstant='blur', -)", outline(":'blur'"));
    EXPECT_EQ("QelFieldOpSample(QelStringConstant='blur', QelVec(QelIntConstant=1, QelIntConstant=2, "
              "QelIntConstant=3))",
              outline(":\"blur\"(vec(1,2,3))"));
    EXPECT_EQ("QelRef(QelStringConstant='Body.value', QelMinus(QelTime, QelIntConstant=1))",
              outline("@'Body.value'(time-1)"));
    EXPECT_EQ("QelRef(QelStringConstant='a', -)", outline("@'a'"));
}

TEST_F(QelParse, CurvesTakeDegreeAndParseTimeKeyframes) {
    NodePtr linear = parse("~[0:0 10:1]");
    EXPECT_EQ("QelCurve(QelIntConstant=1)", outline(linear.get()));
    const zt::curve& c = static_cast<Cbp::QelCurve&>(*linear).curve();
    EXPECT_EQ(1, c.degree());
    unsigned count = 0;
    const zt::keyframe* keys = c.keyframes(&count);
    ASSERT_EQ(2u, count);
    EXPECT_EQ(0.0, keys[0].x);
    EXPECT_EQ(0.0, keys[0].y);
    EXPECT_EQ(10.0, keys[1].x);
    EXPECT_EQ(1.0, keys[1].y);

    EXPECT_EQ("QelCurve(QelIntConstant=3)", outline("~3[0:0 1:1]"));
    EXPECT_EQ(3, static_cast<Cbp::QelCurve&>(*parse("~3[0:0 1:1]")).curve().degree());
    EXPECT_EQ(2, static_cast<Cbp::QelCurve&>(*parse("~ 2 [0:0 1:1]")).curve().degree());

    // Keyframe operands are whole expressions evaluated once, at time zero.
    std::string text;
    static_cast<Cbp::QelCurve&>(*parse("~[0:1+1 2*5:frame+3 -4:-1]")).curve().toString(text);
    EXPECT_EQ("~1[-4:-1 0:2 10:3]", text);
    // A blank and a negative number start the next keyframe; otherwise minus subtracts.
    static_cast<Cbp::QelCurve&>(*parse("~[0:1 -10:0 5:3-1 6:(2 -1)]")).curve().toString(text);
    EXPECT_EQ("~1[-10:0 0:1 5:2 6:1]", text);
}

TEST_F(QelParse, SyntaxErrorsNameTheText) {
    for (const char* text :
         {"1 +", "(1", "1)", "1 2", "   ", "sin(1,2)", "sin 1", "sin", "min(1)", "clamp(1,2)", "rand(1)", "1 = 1",
          "1 & 2", "1 | 2", "#", "time time", "a", "Particle", "Particle.", "Particle.5", "dx", "2 dx[0]", "'abc",
          "\"abc", "'abc\\'", "@abc", "@'a'(1 ? 2 : 3)", "min(1 ? 2 : 3, 1)", "~[]", "~[0 0]", "~[0:0",
          "~2.5[0:0]", "~4[0:0]", "~12[0:0]", "vec(1,2,3)[1.0]", "vec(1,2,3)[time]", "vec(1,2,3)[]", "$", "$1",
          ":abc", ":'a'(1", "1f", "time ? 1", "time ? 1 : ", ".", "./a", "!", "-", "@", "~", "=1", "1 ! 2",
          "Particle.a.b", "sin(1)(2)", "1 ?: 2"}) {
        EXPECT_EQ(std::string("Bad QEL expression: ") + text, failure([&] { parse(text); })) << text;
    }
}

TEST_F(QelParse, ConstantsOutsideTheBoundsAreRefused) {
    EXPECT_EQ("Attempting to set out-of-bounds value: 5", failure([] { Cb::parseExpression("5", 0.0f, 1.0f); }));
    EXPECT_EQ("Attempting to set out-of-bounds value: -1", failure([] { Cb::parseExpression("-1", 0.0f, 1.0f); }));
    EXPECT_EQ("Attempting to set out-of-bounds value: 1.5",
              failure([] { Cb::parseExpression("1.5", 0.0f, 1.0f); }));
    // Parentheses build no node: the root is still the constant.
    EXPECT_EQ("Attempting to set out-of-bounds value: (5)", failure([] { Cb::parseExpression("(5)", 0.0f, 1.0f); }));
    // Bounds are inclusive; only the two numeric constants are checked.
    for (const char* text : {"0", "1", "0x1", "time", "- 1", "5 * 1", "'x'"}) {
        EXPECT_EQ("", failure([&] { NodePtr(Cb::parseExpression(text, 0.0f, 1.0f)); })) << text;
    }
    // Reversed bounds refuse every root but the empty text.
    EXPECT_EQ("Attempting to set out-of-bounds value: time",
              failure([] { Cb::parseExpression("time", 1.0f, 0.0f); }));
    EXPECT_EQ("Attempting to set out-of-bounds value: 0.5",
              failure([] { Cb::parseExpression("0.5", 1.0f, 0.0f); }));
    EXPECT_EQ("", failure([] { NodePtr(Cb::parseExpression("", 1.0f, 0.0f)); }));
    EXPECT_EQ("Attempting to set out-of-bounds value: 1e39",
              failure([] { Cb::parseExpression("1e39", kNoMin, kNoMax); }));
}

TEST_F(QelParse, StringExpressionsSplitIntoSegments) {
    std::unique_ptr<Cbp::QelString> s(Cb::parseStringExpression("frame `frame`"));
    EXPECT_EQ("QelString(QelStringConstant='frame ', QelFrame)", outline(s.get()));
    s.reset(Cb::parseStringExpression(""));
    EXPECT_EQ("QelString", outline(s.get()));
    EXPECT_EQ(0, s->childCount());
    s.reset(Cb::parseStringExpression("a``b"));
    EXPECT_EQ("QelString(QelStringConstant='a', QelStringConstant='b')", outline(s.get()));
    s.reset(Cb::parseStringExpression("`1`x`2 + 3`"));
    EXPECT_EQ("QelString(QelIntConstant=1, QelStringConstant='x', QelPlus(QelIntConstant=2, QelIntConstant=3))",
              outline(s.get()));
    s.reset(Cb::parseStringExpression("plain text"));
    EXPECT_EQ("QelString(QelStringConstant='plain text')", outline(s.get()));

    Cb::FrameTime t;
    t.frame = 3.0f;
    std::string out;
    s.reset(Cb::parseStringExpression("cache_`frame * 2`.ztp"));
    s->evalString(out, t, 0, 0);
    EXPECT_EQ("cache_6.ztp", out);
    EXPECT_EQ(0.0f, s->eval(t, 0, 0));
}

TEST_F(QelParse, StringExpressionFailures) {
    EXPECT_EQ("Unmatched ` in QEL string expression: abc`", failure([] { Cb::parseStringExpression("abc`"); }));
    EXPECT_EQ("Unmatched ` in QEL string expression: `1` `", failure([] { Cb::parseStringExpression("`1` `"); }));
    EXPECT_EQ("Bad string: 'x`1 +`': Bad QEL expression: 1 +", failure([] { Cb::parseStringExpression("x`1 +`"); }));
    EXPECT_EQ("Bad string: '` `': Bad QEL expression:  ", failure([] { Cb::parseStringExpression("` `"); }));
}

TEST_F(QelParse, DeepNestingFailsCleanly) {
    auto repeat = [](const std::string& piece, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += piece;
        return s;
    };
    const std::vector<std::string> damaged = {
        repeat("(", 100000) + "1" + repeat(")", 100000),
        repeat("(", 5000),
        repeat("-", 100000) + "time",
        repeat("!", 100000) + "1",
        repeat("sin(", 20000) + "1" + repeat(")", 20000),
        "1" + repeat(" + 1", 50000),
        "time" + repeat("[0]", 50000),
        "2" + repeat(" dx", 50000),
        repeat("1 ? 2 : ", 50000) + "3",
        repeat("~[0:", 20000),
    };
    for (const std::string& text : damaged)
        EXPECT_EQ("Bad QEL expression: " + text, failure([&] { parse(text); })) << text.substr(0, 20);

    // Ordinary depths still parse.
    EXPECT_EQ(1.0f, value(repeat("(", 100) + "1" + repeat(")", 100)));
    EXPECT_EQ(201.0f, value("1" + repeat(" + 1", 200)));
    EXPECT_EQ(-1.0f, value(repeat("- ", 101) + "1"));
}

TEST_F(QelParse, ResetTablesKeepsTheLanguage) {
    const std::string before = outline("clamp(sin(time) * 2 + noise(frame), 0, 1) dx");
    Cb::resetQelTables();
    EXPECT_EQ(before, outline("clamp(sin(time) * 2 + noise(frame), 0, 1) dx"));
    EXPECT_EQ("QelDx(QelClamp(QelPlus(QelMul(QelSin(QelTime), QelIntConstant=2), "
              "QelNoise=unsigned(QelFrame)), QelIntConstant=0, QelIntConstant=1))",
              before);
}

TEST_F(QelParse, NodesKnowParentAndContext) {
    NodePtr tree = parse("1 + 2 * 3");
    EXPECT_EQ(nullptr, tree->parent());
    EXPECT_EQ(tree.get(), tree->child(1)->parent());
    EXPECT_EQ(tree->child(1), tree->child(1)->child(0)->parent());
    EXPECT_EQ(Cb::QelContext::global(), tree->context());
    EXPECT_EQ(Cb::QelContext::global(), tree->child(1)->child(1)->context());
    EXPECT_FALSE(tree->isConstant());
    EXPECT_TRUE(parse("2")->isConstant());
    EXPECT_TRUE(parse("2.5")->isConstant());
    EXPECT_FALSE(parse("'2'")->isConstant());
}

}  // namespace
