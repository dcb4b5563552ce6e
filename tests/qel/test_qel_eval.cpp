// Values of the node classes: arithmetic and logic corner cases, the function
// table, vectors, the random sequence and noise bit for bit, string values,
// and trees without a layout or a context.
#include <bit>

#include "CaptureOutput.h"
#include "QelTestSupport.h"
#include "TempPath.h"

using namespace qeltest;

namespace {

class QelEval : public QelTest {};

const Cb::FrameTime kSample{.frame = 12.5f, .timestep = 7, .time = 2.25, .frameDt = 0.04, .dt = 0.01};

TEST_F(QelEval, ValueTableAndComponents) {
    const uint32_t seed = Cbp::QelRand::nextSeed();
    const std::pair<const char*, float> cases[] = {
        // Modulo truncates; divisors that truncate to 0 and the one quotient
        // that overflows give 0; NaN and huge operands convert like the
        // processor does (smallest integer).
        {"7 % 3", 1}, {"-7 % 3", -1}, {"7.9 % 3", 1}, {"7 % -3", 1}, {"7 % 0", 0}, {"7 % 0.5", 0}, {"-7 % -0.9", 0},
        {"-2147483648 % -1", 0}, {"sqrt(-1) % 3", -2}, {"1e20 % 3", -2},
        // Logic truncates; comparisons are in float; the conditional has an epsilon.
        {"2 && 0", 0}, {"2 && -3", 1}, {"0 || 0.5", 0}, {"0.5 || 1", 1}, {"!0.4", 1}, {"!1.4", 0}, {"-0.5 && 1", 0},
        {"2 => 2", 1}, {"0.1 + 0.2 == 0.3", 1}, {"1e-8 ? 5 : 6", 6}, {"-0.001 ? 5 : 6", 5},
        {"1.1920929e-07 ? 5 : 6", 6}, {"1.2e-07 ? 5 : 6", 5},
        // Rounding and the function table.
        {"round(2.5)", 2}, {"round(2.50002)", 3}, {"round(-0.5)", -1}, {"round(-1.6)", -2}, {"floor(-1.5)", -2},
        {"ceil(-1.5)", -1}, {"pow(2, 10)", 1024}, {"min(1, 2)", 1}, {"max(1, 2)", 2}, {"clamp(-1, 0, 1)", 0},
        {"clamp(3, 0, 1)", 1}, {"mix(2, 4, 0.25)", 2.5f}, {"smoothstep(0, 1, -1)", 0}, {"smoothstep(0, 1, 2)", 1},
        {"smoothstep(0, 2, 0.5)", 0.103515625f}, {"remap(-1, 0, 10, 0, 100)", 0}, {"remap(11, 0, 10, 0, 100)", 100},
        {"remaps(11, 0, 10, 0, 100)", 100}, {"remaps(-11, 0, 10, 7, 100)", 7}, {"remaps(5, 0, 10, 0, 100)", 50},
        // Vectors have three components, scalars answer every component alike; components outside give 0.
        {"mag(vec(3, 4, 0))", 5}, {"dot(vec(1, 2, 3), vec(4, 5, 6))", 32}, {"cross(vec(1, 0, 0), vec(0, 1, 0))[2]", 1},
        {"cross(vec(0, 1, 0), vec(0, 0, 1))[0]", 1}, {"cross(vec(0, 0, 1), vec(1, 0, 0))[1]", 1}, {"(3 + 4)[2]", 7},
        {"vec(1, 2, 3)[3]", 0}, {"vec(1, 2, 3)[-1]", 0}, {"vec(1, 2, 3)[-2147483648]", 0}, {"norm(vec(3, 4, 0))[3]", 0},
        // The time record; strings, names and unset variables are 0 as numbers.
        {"time", 2.25f}, {"timestep", 7}, {"frame", 12.5f}, {"dt", float(0.01)}, {"frameDt", float(0.04)},
        {"'12'", 0}, {"bname", 0},
        // The right operand and the branch not taken are never evaluated (the sequence stays put).
        {"0 && rand()", 0}, {"3 || rand()", 1}, {"1 ? 5 : rand()", 5}, {"0 ? rand() : 6", 6}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(expected, value(text, kSample)) << text;
    EXPECT_EQ(seed, Cbp::QelRand::nextSeed());
    EXPECT_EQ(std::bit_cast<uint32_t>(-0.0f), std::bit_cast<uint32_t>(value("-(0)")));
    // The index is evaluated with component 0, the operand with the index;
    // components the vector functions do not interpret pass through.
    const std::tuple<const char*, int, float> components[] = {
        {"vec(1, 2, 3)", 2, 3}, {"norm(vec(3, 4, 0))", 1, 0.8f}, {"vec(1, 2, 3)[2]", 1, 3}, {"mag(vec(3, 4, 0))", 7, 5},
        {"norm(vec(3, 4, 0))[0]", 0, 0.6f}, {"remaps(2.5, 0, 10, 0, 100)", 0, 10.3515625f}};
    for (const auto& [text, c, expected] : components) EXPECT_FLOAT_EQ(expected, value(text, {}, c)) << text;
    for (int c : {-1, 3, 1000})
        for (const char* text : {"vec(1, 2, 3)", "cross(vec(1, 0, 0), vec(0, 1, 0))", "norm(vec(1, 1, 1))",
                                 "curl(vec(1, 2, 3))", "grad(1)", "@'a'"})
            EXPECT_EQ(0.0f, value(text, {}, c)) << text << " " << c;
}

TEST_F(QelEval, RandomSequenceAndNoiseBitForBit) {
    // The hash of 1972 and 1973 worked out by hand: a = (s ^ 0xA3C59AC3) *
    // 0x9E3779B9, twice a = ((a >> 16) ^ a) * 0x9E3779B9, then a * 2^-32.
    EXPECT_EQ(0xFCB41780u, Cbp::qelHash(1972));
    Cbp::QelRand::restartSequence();
    // Every rand node shares the one sequence.
    EXPECT_EQ(0x3F7CB418u, std::bit_cast<uint32_t>(value("rand()")));
    EXPECT_EQ(0x3F76D3F1u, std::bit_cast<uint32_t>(value("rand()")));
    EXPECT_EQ(1974u, Cbp::QelRand::nextSeed());
    // Worked out from the gradient-noise definition in float arithmetic;
    // noise is signed noise mapped to the unit range.
    const std::pair<const char*, float> noise[] = {
        {"0", -0.019955432042479515f}, {"0.5", 0.034026019275188446f}, {"1.25", 0.096863754093647f},
        {"-3.7", 0.029210316017270088f}, {"10", 0.019240641966462135f}, {"123.456", 0.07472563534975052f}};
    for (const auto& [x, expected] : noise) {
        EXPECT_EQ(expected, value(std::string("snoise(") + x + ")")) << x;
        EXPECT_EQ((expected + 1.0f) / 2.0f, value(std::string("noise(") + x + ")")) << x;
    }
}

TEST_F(QelEval, StringValuesClampingAndEnvironment) {
    testsupport::ScopedEnv set("QEL_TEST_VALUE", "2.5e1xyz");
    testsupport::ScopedEnv unset("QEL_TEST_UNSET", nullptr);
    const std::pair<const char*, const char*> strings[] = {
        {"0.5", "0.5"}, {"1 / 3", "0.333333"}, {"100000", "100000"}, {"1e6", "1e+06"}, {"1234567", "1.23457e+06"},
        {"-(0)", "-0"}, {"1 / 0", "inf"}, {"'abc'", "abc"}, {"bname", ""}, {"Particle.position", "0"},
        {"frame", "12.5"}, {"$QEL_TEST_VALUE", "2.5e1xyz"}, {"$QEL_TEST_UNSET", ""}};
    std::string out;
    for (const auto& [text, expected] : strings) {
        parse(text)->evalString(out, kSample, 0, 0);
        EXPECT_EQ(expected, out) << text;
    }
    EXPECT_EQ(26.0f, value("$QEL_TEST_VALUE + 1"));
    const std::tuple<const char*, float, float, const char*> clamped[] = {
        {"5", 0, 1, "1"}, {"-5", 0, 1, "0"}, {"0.25", 0, 1, "0.25"}, {"'text'", 2, 3, "2"}, {"1 / -0", -1, 1, "-1"}};
    for (const auto& [text, lo, hi, expected] : clamped) {
        parse(text)->evalClampedString(out, Cb::FrameTime(), lo, hi, 0, 0);
        EXPECT_EQ(expected, out) << text;
    }
}

TEST_F(QelEval, DifferentialsWithoutALayoutAndTreesWithoutAContext) {
    testsupport::CaptureStderr quiet;  // the voxel size is logged as unbound
    // Without even the global context trees still evaluate.
    Cb::QelContext::destroyGlobal();
    EXPECT_EQ(0.0f, value("posx + grad(posy)"));
    EXPECT_EQ(2.0f, value("~[0:1 10:frame + 3]", atFrame(5)));
    EXPECT_EQ("Internal QEL Error: Invalid Reference", messageOf([] { value("@'a'"); }));
}

}  // namespace
