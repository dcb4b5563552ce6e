// Values of the node classes: arithmetic and logic corner cases, the function
// table, vectors, the random sequence and noise bit for bit, string values,
// and evaluation of one tree on several OpenMP threads.
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "CaptureOutput.h"
#include "QelTestSupport.h"
#include "TempPath.h"
#include "cb/ThreadCount.h"
#include "zt/parallel.h"

using namespace qeltest;

namespace {

class QelEval : public QelTest {};

Cb::FrameTime sampleTime() {
    Cb::FrameTime t;
    t.frame = 12.5f;
    t.timestep = 7;
    t.time = 2.25;
    t.time2 = 99.0;
    t.frameDt = 0.04;
    t.dt = 0.01;
    return t;
}

TEST_F(QelEval, ModuloTruncatesAndNeverTraps) {
    EXPECT_EQ(1.0f, value("7 % 3"));
    EXPECT_EQ(-1.0f, value("-7 % 3"));
    EXPECT_EQ(1.0f, value("7.9 % 3"));
    EXPECT_EQ(1.0f, value("7 % -3"));
    // Divisors that truncate to 0, and the one quotient that overflows.
    EXPECT_EQ(0.0f, value("7 % 0"));
    EXPECT_EQ(0.0f, value("7 % 0.5"));
    EXPECT_EQ(0.0f, value("-7 % -0.9"));
    EXPECT_EQ(0.0f, value("-2147483648 % -1"));
    // NaN and huge operands convert like the processor does (smallest integer).
    EXPECT_EQ(-2.0f, value("sqrt(-1) % 3"));
    EXPECT_EQ(-2.0f, value("1e20 % 3"));
}

TEST_F(QelEval, LogicTruncatesAndShortCircuits) {
    EXPECT_EQ(0.0f, value("2 && 0"));
    EXPECT_EQ(1.0f, value("2 && -3"));
    EXPECT_EQ(0.0f, value("0 || 0.5"));
    EXPECT_EQ(1.0f, value("0.5 || 1"));
    EXPECT_EQ(1.0f, value("!0.4"));
    EXPECT_EQ(0.0f, value("!1.4"));
    EXPECT_EQ(0.0f, value("-0.5 && 1"));

    // The right operand and the branch not taken are never evaluated.
    const uint32_t seed = Cbp::QelRand::nextSeed();
    EXPECT_EQ(0.0f, value("0 && rand()"));
    EXPECT_EQ(1.0f, value("3 || rand()"));
    EXPECT_EQ(5.0f, value("1 ? 5 : rand()"));
    EXPECT_EQ(6.0f, value("0 ? rand() : 6"));
    EXPECT_EQ(seed, Cbp::QelRand::nextSeed());
}

TEST_F(QelEval, ComparisonsAndConditionalEpsilon) {
    EXPECT_EQ(1.0f, value("2 >= 2"));
    EXPECT_EQ(1.0f, value("2 => 2"));
    EXPECT_EQ(0.0f, value("2 > 2"));
    EXPECT_EQ(1.0f, value("1 < 2"));
    EXPECT_EQ(1.0f, value("2 <= 2"));
    EXPECT_EQ(1.0f, value("0.1 + 0.2 == 0.3"));  // float arithmetic
    EXPECT_EQ(0.0f, value("1 != 1"));
    EXPECT_EQ(6.0f, value("1e-8 ? 5 : 6"));
    EXPECT_EQ(5.0f, value("0.001 ? 5 : 6"));
    EXPECT_EQ(5.0f, value("-0.001 ? 5 : 6"));
    EXPECT_EQ(6.0f, value("1.1920929e-07 ? 5 : 6"));
    EXPECT_EQ(5.0f, value("1.2e-07 ? 5 : 6"));
    EXPECT_EQ(2.0f, value("3 > 2 ? 2 : 1"));
}

TEST_F(QelEval, RoundingFunctions) {
    EXPECT_EQ(2.0f, value("round(2.5)"));
    EXPECT_EQ(3.0f, value("round(2.50002)"));
    EXPECT_EQ(-1.0f, value("round(-0.5)"));
    EXPECT_EQ(-2.0f, value("round(-1.6)"));
    EXPECT_EQ(-2.0f, value("floor(-1.5)"));
    EXPECT_EQ(-1.0f, value("ceil(-1.5)"));
    EXPECT_EQ(2.0f, value("abs(-2)"));
}

TEST_F(QelEval, FunctionTableValues) {
    EXPECT_EQ(0.0f, value("sin(0)"));
    EXPECT_EQ(1.0f, value("cos(0)"));
    EXPECT_EQ(0.0f, value("tan(0)"));
    EXPECT_FLOAT_EQ(std::sin(0.5f), value("sin(0.5)"));
    EXPECT_EQ(4.0f, value("sqrt(16)"));
    EXPECT_EQ(9.0f, value("sqr(-3)"));
    EXPECT_EQ(1024.0f, value("pow(2, 10)"));
    EXPECT_EQ(1.0f, value("min(1, 2)"));
    EXPECT_EQ(2.0f, value("max(1, 2)"));
    EXPECT_EQ(0.0f, value("clamp(-1, 0, 1)"));
    EXPECT_EQ(1.0f, value("clamp(3, 0, 1)"));
    EXPECT_EQ(0.25f, value("clamp(0.25, 0, 1)"));
    EXPECT_EQ(2.5f, value("mix(2, 4, 0.25)"));
    EXPECT_EQ(0.5f, value("smoothstep(0, 1, 0.5)"));
    EXPECT_EQ(0.0f, value("smoothstep(0, 1, -1)"));
    EXPECT_EQ(1.0f, value("smoothstep(0, 1, 2)"));
    EXPECT_EQ(0.103515625f, value("smoothstep(0, 2, 0.5)"));
    EXPECT_EQ(50.0f, value("remap(5, 0, 10, 0, 100)"));
    EXPECT_EQ(0.0f, value("remap(-1, 0, 10, 0, 100)"));
    EXPECT_EQ(100.0f, value("remap(11, 0, 10, 0, 100)"));
    EXPECT_EQ(100.0f, value("remaps(11, 0, 10, 0, 100)"));
    EXPECT_EQ(7.0f, value("remaps(-11, 0, 10, 7, 100)"));
    EXPECT_EQ(50.0f, value("remaps(5, 0, 10, 0, 100)"));
    EXPECT_FLOAT_EQ(10.3515625f, value("remaps(2.5, 0, 10, 0, 100)"));
    EXPECT_EQ(-2.0f, value("- 2"));
    EXPECT_EQ(0.5f, value("1 / 2"));
    EXPECT_EQ(std::bit_cast<uint32_t>(-0.0f), std::bit_cast<uint32_t>(value("-(0)")));
}

TEST_F(QelEval, VectorsExistAsThreeComponents) {
    EXPECT_EQ(2.0f, value("vec(1, 2, 3)[1]"));
    EXPECT_EQ(3.0f, value("vec(1, 2, 3)", Cb::FrameTime(), 2));
    EXPECT_EQ(5.0f, value("mag(vec(3, 4, 0))"));
    EXPECT_EQ(25.0f, value("mag2(vec(3, 4, 0))"));
    EXPECT_FLOAT_EQ(0.6f, value("norm(vec(3, 4, 0))[0]"));
    EXPECT_FLOAT_EQ(0.8f, value("norm(vec(3, 4, 0))", Cb::FrameTime(), 1));
    EXPECT_EQ(32.0f, value("dot(vec(1, 2, 3), vec(4, 5, 6))"));
    EXPECT_EQ(1.0f, value("cross(vec(1, 0, 0), vec(0, 1, 0))[2]"));
    EXPECT_EQ(0.0f, value("cross(vec(1, 0, 0), vec(0, 1, 0))[0]"));
    EXPECT_EQ(1.0f, value("cross(vec(0, 1, 0), vec(0, 0, 1))[0]"));
    EXPECT_EQ(1.0f, value("cross(vec(0, 0, 1), vec(1, 0, 0))[1]"));
    // The index is evaluated with component 0, the operand with the index.
    EXPECT_EQ(3.0f, value("vec(1, 2, 3)[2]", Cb::FrameTime(), 1));
    // Scalars answer every component alike.
    EXPECT_EQ(7.0f, value("(3 + 4)[2]"));
}

TEST_F(QelEval, ComponentsOutsideTheVectorGiveZero) {
    for (const char* text : {"vec(1, 2, 3)[3]", "vec(1, 2, 3)[-1]", "vec(1, 2, 3)[0x7fffffff]",
                             "vec(1, 2, 3)[-2147483648]", "cross(vec(1, 0, 0), vec(0, 1, 0))[5]",
                             "norm(vec(3, 4, 0))[3]"})
        EXPECT_EQ(0.0f, value(text)) << text;
    for (int c : {-1, 3, 4, 1000}) {
        EXPECT_EQ(0.0f, value("vec(1, 2, 3)", Cb::FrameTime(), c)) << c;
        EXPECT_EQ(0.0f, value("cross(vec(1, 0, 0), vec(0, 1, 0))", Cb::FrameTime(), c)) << c;
        EXPECT_EQ(0.0f, value("norm(vec(1, 1, 1))", Cb::FrameTime(), c)) << c;
        EXPECT_EQ(0.0f, value("curl(vec(1, 2, 3))", Cb::FrameTime(), c)) << c;
        EXPECT_EQ(0.0f, value("grad(1)", Cb::FrameTime(), c)) << c;
        EXPECT_EQ(0.0f, value("@'a'", Cb::FrameTime(), c)) << c;
    }
    // Components the vector functions do not interpret pass through.
    EXPECT_EQ(5.0f, value("mag(vec(3, 4, 0))", Cb::FrameTime(), 7));
}

TEST_F(QelEval, TimeVariablesReadTheTimeRecord) {
    const Cb::FrameTime t = sampleTime();
    EXPECT_EQ(2.25f, value("time", t));
    EXPECT_EQ(7.0f, value("timestep", t));
    EXPECT_EQ(12.5f, value("frame", t));
    EXPECT_EQ(float(0.01), value("dt", t));
    EXPECT_EQ(float(0.04), value("frameDt", t));
    EXPECT_EQ(0.0f, value("time"));
}

TEST_F(QelEval, RandomSequenceIsTheHashOfACounter) {
    // The hash of 1972 and 1973 worked out by hand: a = (s ^ 0xA3C59AC3) *
    // 0x9E3779B9, twice a = ((a >> 16) ^ a) * 0x9E3779B9, then a * 2^-32.
    EXPECT_EQ(0xFCB41780u, Cbp::qelHash(1972));
    EXPECT_EQ(0xF6D3F130u, Cbp::qelHash(1973));
    Cbp::QelRand::restartSequence();
    NodePtr r = parse("rand()");
    const float first = r->eval(Cb::FrameTime(), 0, 0);
    const float second = r->eval(Cb::FrameTime(), 0, 0);
    EXPECT_EQ(0x3F7CB418u, std::bit_cast<uint32_t>(first));
    EXPECT_EQ(0x3F76D3F1u, std::bit_cast<uint32_t>(second));
    EXPECT_EQ(1974u, Cbp::QelRand::nextSeed());
    // Every rand node shares the one sequence.
    EXPECT_EQ(Cbp::QelRand::valueOf(1974), value("rand()"));
    EXPECT_EQ(Cbp::QelRand::valueOf(1975), value("rand() * 1"));
}

TEST_F(QelEval, NoiseIsSignedNoiseMappedToTheUnitRange) {
    // Worked out from the gradient-noise definition in float arithmetic.
    const std::vector<std::pair<const char*, float>> signedValues = {
        {"0", -0.019955432042479515f}, {"0.5", 0.034026019275188446f}, {"1.25", 0.096863754093647f},
        {"-3.7", 0.029210316017270088f}, {"10", 0.019240641966462135f}, {"123.456", 0.07472563534975052f},
    };
    for (const auto& [x, expected] : signedValues) {
        EXPECT_EQ(expected, value(std::string("snoise(") + x + ")")) << x;
        EXPECT_EQ((expected + 1.0f) / 2.0f, value(std::string("noise(") + x + ")")) << x;
    }
    NodePtr n = parse("noise(frame)");
    NodePtr s = parse("snoise(frame)");
    Cb::FrameTime t;
    std::vector<float> atIntegers;
    float previous = 0.0f;
    for (int i = -2000; i <= 2000; ++i) {
        t.frame = float(i) * 0.01f;
        const float sn = s->eval(t, 0, 0);
        EXPECT_EQ((1.0f + sn) / 2.0f, n->eval(t, 0, 0)) << t.frame;
        EXPECT_LT(std::fabs(sn), 1.0f);
        if (i > -2000) {
            EXPECT_LT(std::fabs(sn - previous), 0.05f) << "jump at " << t.frame;
        }
        previous = sn;
        if (i % 100 == 0) atIntegers.push_back(sn);
    }
    std::sort(atIntegers.begin(), atIntegers.end());
    EXPECT_GT(std::unique(atIntegers.begin(), atIntegers.end()) - atIntegers.begin(), 30);
}

TEST_F(QelEval, StringValuesAndFormatting) {
    EXPECT_EQ("0.5", stringValue("0.5"));
    EXPECT_EQ("3", stringValue("1 + 2"));
    EXPECT_EQ("0.333333", stringValue("1 / 3"));
    EXPECT_EQ("100000", stringValue("100000"));
    EXPECT_EQ("1e+06", stringValue("1e6"));
    EXPECT_EQ("1.23457e+06", stringValue("1234567"));
    EXPECT_EQ("-0", stringValue("-(0)"));
    EXPECT_EQ("inf", stringValue("1 / 0"));
    EXPECT_EQ("abc", stringValue("'abc'"));
    EXPECT_EQ(0.0f, value("'12'"));
    EXPECT_EQ("", stringValue("bname"));
    EXPECT_EQ(0.0f, value("bname"));
    EXPECT_EQ("0", stringValue("Particle.position"));
    EXPECT_EQ("12.5", stringValue("frame", sampleTime()));
}

TEST_F(QelEval, ClampedStringsClampTheNumber) {
    auto clamped = [](const std::string& text, float lo, float hi) {
        std::string out;
        parse(text)->evalClampedString(out, Cb::FrameTime(), lo, hi, 0, 0);
        return out;
    };
    EXPECT_EQ("1", clamped("5", 0.0f, 1.0f));
    EXPECT_EQ("0", clamped("-5", 0.0f, 1.0f));
    EXPECT_EQ("0.25", clamped("0.25", 0.0f, 1.0f));
    EXPECT_EQ("2", clamped("'text'", 2.0f, 3.0f));
    EXPECT_EQ("-1", clamped("1 / -0", -1.0f, 1.0f));
}

TEST_F(QelEval, EnvironmentVariables) {
    testsupport::ScopedEnv set("QEL_TEST_VALUE", "2.5e1xyz");
    testsupport::ScopedEnv unset("QEL_TEST_UNSET", nullptr);
    EXPECT_EQ(25.0f, value("$QEL_TEST_VALUE"));
    EXPECT_EQ("2.5e1xyz", stringValue("$QEL_TEST_VALUE"));
    EXPECT_EQ(26.0f, value("$QEL_TEST_VALUE + 1"));
    EXPECT_EQ(0.0f, value("$QEL_TEST_UNSET"));
    EXPECT_EQ("", stringValue("$QEL_TEST_UNSET"));
    std::unique_ptr<Cbp::QelString> s(Cb::parseStringExpression("v=`$QEL_TEST_VALUE`;"));
    std::string out;
    s->evalString(out, Cb::FrameTime(), 0, 0);
    EXPECT_EQ("v=2.5e1xyz;", out);
}

TEST_F(QelEval, UnitsWithoutALayoutLogAndUseOne) {
    testsupport::CaptureStderr capture;
    const float v = value("2 dx");
    const std::string log = capture.finish();
    EXPECT_EQ(2.0f, v);
    EXPECT_EQ("***** CORIX ERROR: Voxel-size evaluation of unbound QEL expression\n", log);
}

TEST_F(QelEval, DifferentialsOfUnsampledOperandsVanish) {
    testsupport::CaptureStderr capture;
    EXPECT_EQ(0.0f, value("grad(5)"));
    EXPECT_EQ(0.0f, value("curv(5)"));
    EXPECT_EQ(0.0f, value("curl(vec(1, 2, 3))", Cb::FrameTime(), 1));
    EXPECT_EQ(0.0f, value("grad(posx)"));
    capture.finish();
}

TEST_F(QelEval, TreesWithoutAnyContextStillEvaluate) {
    Cb::QelContext::destroyGlobal();
    NodePtr pos = parse("posx + posy");
    NodePtr dx = parse("3 dx");
    NodePtr name = parse("bname");
    NodePtr curve = parse("~[0:1 10:frame + 3]");
    EXPECT_EQ(nullptr, pos->context());
    EXPECT_EQ(0.0f, pos->eval(Cb::FrameTime(), 0, 0));
    testsupport::CaptureStderr capture;
    EXPECT_EQ(3.0f, dx->eval(Cb::FrameTime(), 0, 0));
    EXPECT_EQ("***** CORIX ERROR: Voxel-size evaluation of unbound QEL expression\n", capture.finish());
    std::string out = "x";
    name->evalString(out, Cb::FrameTime(), 0, 0);
    EXPECT_EQ("", out);
    Cb::FrameTime t;
    t.frame = 5.0f;
    EXPECT_EQ(2.0f, curve->eval(t, 0, 0));
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([] { value("@'a'"); }));
}

// The same tree on 1 and 2 OpenMP threads gives the serial values.
TEST_F(QelEval, ParallelEvaluationMatchesSerial) {
    NodePtr tree = parse("clamp(sin(time) * 2 + noise(frame), 0, 1) + vec(posx, 2, 3)[1] % 3 + ~3[0:0 10:5 20:1]");
    const int n = 4000;
    auto timeOf = [](int i) {
        Cb::FrameTime t;
        t.frame = float(i) * 0.01f;
        t.time = double(i) * 0.003;
        return t;
    };
    std::vector<float> serial(n);
    for (int i = 0; i < n; ++i) serial[size_t(i)] = tree->eval(timeOf(i), 0, 0);
    for (int threads : {1, 2}) {
        std::vector<float> parallel(n, -1.0f);
        zt::parallel_errors errors;
#pragma omp parallel for num_threads(threads) schedule(dynamic, 64)
        for (int i = 0; i < n; ++i)
            errors.capture([&] { parallel[size_t(i)] = tree->eval(timeOf(i), 0, omp_get_thread_num()); });
        errors.rethrow();
        EXPECT_EQ(serial, parallel) << threads << " threads";
    }
}

// Parallel rand() calls share one counter: every value is taken exactly once.
TEST_F(QelEval, ParallelRandomTakesEachCounterValueOnce) {
    NodePtr tree = parse("rand()");
    const int n = 5000;
    for (int threads : {1, 2}) {
        const uint32_t first = Cbp::QelRand::nextSeed();
        std::vector<float> got(n);
#pragma omp parallel for num_threads(threads)
        for (int i = 0; i < n; ++i) got[size_t(i)] = tree->eval(Cb::FrameTime(), 0, omp_get_thread_num());
        std::vector<float> expected(n);
        for (int i = 0; i < n; ++i) expected[size_t(i)] = Cbp::QelRand::valueOf(first + uint32_t(i));
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, got) << threads << " threads";
        EXPECT_EQ(first + uint32_t(n), Cbp::QelRand::nextSeed());
    }
}

}  // namespace
