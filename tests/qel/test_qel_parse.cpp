// Scanner and parser: the trees built for each production, the token corner
// cases, the failures with their texts, string expressions and nesting limits.
#include "QelTestSupport.h"

using namespace qeltest;

namespace {

class QelParse : public QelTest {};

std::string repeat(const std::string& piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += piece;
    return s;
}

TEST_F(QelParse, TreesOfEveryProduction) {
    // Priorities and associativity; the conditional stands above every operator and nests to the right.
    // Number, string and minus tokens: a minus before a hexadecimal number, or with a blank after it, is the
    // operator, after an operand it subtracts; strings keep their text, escapes included. Variables, units,
    // components, channels (reserved words serve as names after a scope separator; after an operand "/"
    // divides), field operations, references and curves. Each function builds the class of its capitalised
    // name over its arguments.
    const std::pair<std::string, std::string> trees[] = {
        {"1 + 2 * 3", "Plus(1, Mul(2, 3))"}, {"time || frame && dt", "Land(Lor(Time, Frame), Dt)"},
        {"time && frame || dt", "Lor(Land(Time, Frame), Dt)"}, {"-time * frame", "Mul(Neg(Time), Frame)"},
        {"8 - 4 - 2", "Minus(Minus(8, 4), 2)"}, {"8 / 4 % 2", "Mod(Div(8, 4), 2)"}, {"1 == 2 < 3", "Eq(1, Lt(2, 3))"},
        {"time >= 1 != frame <= 2", "NotEq(GtEq(Time, 1), LtEq(Frame, 2))"}, {"time=>1", "GtEq(Time, 1)"},
        {"!!time", "Not(Not(Time))"}, {"!time + 1", "Plus(Not(Time), 1)"},
        {"time > frame ? 1 : 2", "Cond(Gt(Time, Frame), 1, 2)"},
        {"time || dt ? 1 + 2 : 3", "Cond(Lor(Time, Dt), Plus(1, 2), 3)"},
        {"1 ? 2 : 0 ? 3 : 4", "Cond(1, 2, Cond(0, 3, 4))"}, {"1 ? 0 ? 3 : 4 : 2", "Cond(1, Cond(0, 3, 4), 2)"},
        {"(time ? 1 : 2) * 3", "Mul(Cond(Time, 1, 2), 3)"}, {"0X1fu", "31"}, {"0x1e5", "485"}, {"7L", "7"},
        {"-3", "-3"}, {".5", "0.5f"}, {"5.", "5f"}, {"2E-1f", "0.2f"}, {"1.5e+2L", "150f"}, {"-.25", "-0.25f"},
        {"-0x10", "Neg(16)"}, {"- 3", "Neg(3)"}, {"time-1", "Minus(Time, 1)"}, {"time -1", "Minus(Time, 1)"},
        {"3*-2", "Mul(3, -2)"}, {"1 - -time", "Minus(1, Neg(Time))"}, {"'a\\'b'", "'a\\'b'"},
        {"\"say \\\"hi\\\"\"", "'say \\\"hi\\\"'"}, {"\"it's\"", "'it's'"}, {"'\\\\'", "'\\\\'"}, {"", "''"},
        {"posy", "Pos=1"}, {"rand ( )", "Rand"}, {"(((1)))", "1"}, {"noise(1)", "Noise=unsigned(1)"},
        {"snoise(1)", "Noise=signed(1)"}, {"$HOME", "Env('HOME')"}, {"$time", "Env('time')"}, {"2dx", "Dx(2)"},
        {"2 dx cells", "Dx(Dx(2))"}, {"1 + 2 dx", "Plus(1, Dx(2))"}, {"-time dx", "Neg(Dx(Time))"},
        {"time[0x2][-1]", "Comp(Comp(Time, 2), -1)"}, {"time[0] dx", "Dx(Comp(Time, 0))"},
        {"-time[0]", "Neg(Comp(Time, 0))"}, {".density", "ImplicitChannelValue('density')"},
        {"/density", "ImplicitChannelValue('density')"},
        {"Particle.position", "ChannelSample('Particle', 'position', -)"},
        {"Field/density(vec(1,2,3))", "ChannelSample('Field', 'density', Vec(1, 2, 3))"},
        {"Particle.frame", "ChannelSample('Particle', 'frame', -)"}, {".dx", "ImplicitChannelValue('dx')"},
        {"time/frame", "Div(Time, Frame)"},
        {"Particle.velocity[1]", "Comp(ChannelSample('Particle', 'velocity', -), 1)"},
        {":'blur'", "FieldOpSample('blur', -)"}, {":\"blur\"(vec(1,2,3))", "FieldOpSample('blur', Vec(1, 2, 3))"},
        {"@'Body.value'(time-1)", "Ref('Body.value', Minus(Time, 1))"}, {"@'a'", "Ref('a', -)"},
        {"~3[0:0 1:1]", "Curve(3)"}, {"~[0:0 1:1]", "Curve(1)"}, {"2 cells", "Dx(2)"}, {"2 cell", "Dx(2)"},
        {"2 voxel", "Dx(2)"}, {"2 voxels", "Dx(2)"}, {"sin(1)", "Sin(1)"}, {"cos(1)", "Cos(1)"}, {"tan(1)", "Tan(1)"},
        {"abs(1)", "Abs(1)"}, {"floor(1)", "Floor(1)"}, {"ceil(1)", "Ceil(1)"}, {"round(1)", "Round(1)"},
        {"sqr(1)", "Sqr(1)"}, {"sqrt(1)", "Sqrt(1)"}, {"mag(1)", "Mag(1)"}, {"mag2(1)", "Mag2(1)"},
        {"norm(1)", "Norm(1)"}, {"grad(1)", "Grad(1)"}, {"curv(1)", "Curv(1)"}, {"curl(1)", "Curl(1)"},
        {"pow(1, 2)", "Pow(1, 2)"}, {"min(1, 2)", "Min(1, 2)"}, {"max(1, 2)", "Max(1, 2)"}, {"dot(1, 2)", "Dot(1, 2)"},
        {"cross(1, 2)", "Cross(1, 2)"}, {"clamp(1, 2, 3)", "Clamp(1, 2, 3)"}, {"mix(1, 2, 3)", "Mix(1, 2, 3)"},
        {"smoothstep(1, 2, 3)", "Smoothstep(1, 2, 3)"}, {"vec(1, 2, 3)", "Vec(1, 2, 3)"},
        {"remap(1, 2, 3, 4, 5)", "Remap(1, 2, 3, 4, 5)"}, {"remaps(1, 2, 3, 4, 5)", "Remaps(1, 2, 3, 4, 5)"}};
    for (const auto& [text, tree] : trees) EXPECT_EQ(tree, outline(text)) << text;
    // Resetting the parser's tables keeps the language.
    Cb::resetQelTables();
    EXPECT_EQ("Dx(Min(Sin(Time), Noise=unsigned(Frame)))", outline("min(sin(time), noise(frame)) dx"));
}

TEST_F(QelParse, SyntaxErrorsNameTheText) {
    for (const char* text : {"1 +", "(1", "1)", "1 2", "   ", "sin(1,2)", "sin 1", "min(1)", "rand(1)", "1 = 1", "1 & 2",
                             "a", "Particle", "Particle.", "Particle.5", "dx", "2 dx[0]", "'abc", "'abc\\'", "@abc",
                             "@'a'(1 ? 2 : 3)", "min(1 ? 2 : 3, 1)", "~[]", "~[0 0]", "~[0:0", "~2.5[0:0]", "~4[0:0]",
                             "~0[0:0]", "~ -1[0:0]", "vec(1,2,3)[1.0]", "vec(1,2,3)[time]", "$1", ":abc", "1f",
                             "time ? 1", "./a", "-", "1 ! 2", "Particle.a.b", "sin(1)(2)", "1 ?: 2"})
        EXPECT_EQ(std::string("Bad QEL expression: ") + text, messageOf([&] { parse(text); })) << text;
    // Deep nesting fails the same way instead of overflowing the stack.
    for (const std::string& text :
         {repeat("(", 100000) + "1" + repeat(")", 100000), repeat("(", 5000), repeat("-", 100000) + "time",
          repeat("!", 100000) + "1", repeat("sin(", 20000) + "1" + repeat(")", 20000), "1" + repeat(" + 1", 50000),
          "time" + repeat("[0]", 50000), "2" + repeat(" dx", 50000), repeat("1 ? 2 : ", 50000) + "3",
          repeat("~[0:", 20000)})
        EXPECT_EQ("Bad QEL expression: " + text, messageOf([&] { parse(text); })) << text.substr(0, 20);
    // Ordinary depths still parse.
    EXPECT_EQ(1.0f, value(repeat("(", 100) + "1" + repeat(")", 100)));
    EXPECT_EQ(201.0f, value("1" + repeat(" + 1", 200)));
    EXPECT_EQ(-1.0f, value(repeat("- ", 101) + "1"));
}

TEST_F(QelParse, ConstantsOutsideTheBoundsAreRefused) {
    // Bounds are inclusive; only the two numeric constants at the root are
    // checked (parentheses build no node); reversed bounds refuse every root
    // but the empty text.
    const std::tuple<const char*, float, float, bool> cases[] = {
        {"5", 0, 1, false}, {"-1", 0, 1, false}, {"1.5", 0, 1, false}, {"(5)", 0, 1, false}, {"0", 0, 1, true},
        {"1", 0, 1, true}, {"time", 0, 1, true}, {"- 1", 0, 1, true}, {"5 * 1", 0, 1, true}, {"'x'", 0, 1, true},
        {"time", 1, 0, false}, {"0.5", 1, 0, false}, {"", 1, 0, true}, {"1e39", -kNoMax, kNoMax, false}};
    for (const auto& [text, lo, hi, accepted] : cases)
        EXPECT_EQ(accepted ? "(no failure)" : "Attempting to set out-of-bounds value: " + std::string(text),
                  messageOf([&text = text, lo = lo, hi = hi] { NodePtr(Cb::parseExpression(text, lo, hi)); }))
            << text;
    EXPECT_EQ(0.0f, NodePtr(Cb::parseExpression("", 0.0f, 1.0f))->eval(Cb::FrameTime(), 0, 0));
}

TEST_F(QelParse, StringExpressionsSplitIntoSegments) {
    const std::pair<const char*, const char*> cases[] = {{"frame `frame`", "String('frame ', Frame)"}, {"", "String"},
                                                         {"`1`x`2 + 3`", "String(1, 'x', Plus(2, 3))"}};
    for (const auto& [text, tree] : cases)
        EXPECT_EQ(tree, outline(std::unique_ptr<Cbp::QelString>(Cb::parseStringExpression(text)).get())) << text;
    std::string out;
    std::unique_ptr<Cbp::QelString> s(Cb::parseStringExpression("cache_`frame * 2`.ztp"));
    s->evalString(out, atFrame(3), 0, 0);
    EXPECT_EQ("cache_6.ztp", out);
    EXPECT_EQ(0.0f, s->eval(atFrame(3), 0, 0));
    const std::pair<const char*, const char*> failures[] = {
        {"abc`", "Unmatched ` in QEL string expression: abc`"}, {"`1` `", "Unmatched ` in QEL string expression: `1` `"},
        {"x`1 +`", "Bad string: 'x`1 +`': Bad QEL expression: 1 +"}, {"` `", "Bad string: '` `': Bad QEL expression:  "}};
    for (const auto& [text, message] : failures)
        EXPECT_EQ(message, messageOf([&text = text] { Cb::parseStringExpression(text); }));
}

}  // namespace
