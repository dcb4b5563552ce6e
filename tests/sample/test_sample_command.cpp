// The command line: what is accepted, the exact texts of wrong calls, and the
// program run as a user runs it (summary, exit codes, conversion, missing
// installation).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"
#include "SampleCommand.h"
#include "TempPath.h"

using sampletest::runProgram;

namespace {

struct Parsed {
    bool ok;
    sample::SampleOptions options;
    std::string error;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "ztp-sample");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    Parsed p;
    p.ok = sample::parseSampleOptions(int(argv.size()), argv.data(), p.options, p.error);
    return p;
}

std::string errorOf(const std::vector<std::string>& args) {
    const Parsed p = parse(args);
    EXPECT_FALSE(p.ok);
    return p.error;
}

// The text with every run of blanks and line ends made one blank.
std::string words(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank || out.empty() || out.back() != ' ') out += blank ? ' ' : c;
    }
    return out;
}

class SampleProgram : public ::testing::Test {
protected:
    sampletest::RunResult run(const std::vector<std::string>& args) {
        std::vector<std::string> all{CB_SAMPLE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        return runProgram(all, dir.path());
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", (std::string(CB_SOURCE_DIR) + "/share/corix").c_str()};
    testsupport::ScopedEnv userSig{"CORIX_USER_SIG_PATH", nullptr};
};

}  // namespace

TEST(SampleOptions, OptionsGoAnywhereAndDefaultsHold) {
    Parsed p = parse({"out.ztp", "100"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ("out.ztp", p.options.output);
    EXPECT_EQ(100, p.options.particles);
    EXPECT_EQ(sample::kDefaultSeed, p.options.seed);
    EXPECT_TRUE(p.options.compress);
    EXPECT_FALSE(p.options.help);

    p = parse({"--raw", "out.ztp", "--seed", "42", "0"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(0, p.options.particles);
    EXPECT_EQ(42u, p.options.seed);
    EXPECT_FALSE(p.options.compress);

    p = parse({"out.ztp", "2000000000", "--seed=18446744073709551615"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(sample::kMaxParticles, p.options.particles);
    EXPECT_EQ(18446744073709551615u, p.options.seed);

    p = parse({"--help"});
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.options.help);
}

TEST(SampleOptions, WrongCallsSayWhatIsWrong) {
    EXPECT_EQ("ztp-sample: expected an output file and a particle count", errorOf({}));
    EXPECT_EQ("ztp-sample: expected an output file and a particle count", errorOf({"out.ztp"}));
    EXPECT_EQ("ztp-sample: unexpected argument 'more'", errorOf({"out.ztp", "5", "more"}));
    EXPECT_EQ("ztp-sample: the output file name is empty", errorOf({"", "5"}));
    for (const char* count : {"2000000001", "12x", "1e6", "+5", " 5", "99999999999999999999999"})
        EXPECT_EQ(std::string("ztp-sample: the particle count must be a whole number from 0 to 2000000000, not '") +
                      count + "'",
                  errorOf({"out.ztp", count}));
    EXPECT_EQ("ztp-sample: unknown option '-5'", errorOf({"out.ztp", "-5"}));
    EXPECT_EQ("ztp-sample: unknown option '--fast'", errorOf({"out.ztp", "5", "--fast"}));
    EXPECT_EQ("ztp-sample: --seed needs a value", errorOf({"out.ztp", "5", "--seed"}));
    EXPECT_EQ("ztp-sample: the seed must be a whole number from 0 to 18446744073709551615, not "
              "'18446744073709551616'",
              errorOf({"out.ztp", "5", "--seed=18446744073709551616"}));
    EXPECT_EQ("ztp-sample: the seed must be a whole number from 0 to 18446744073709551615, not ''",
              errorOf({"out.ztp", "5", "--seed="}));
}

TEST_F(SampleProgram, WritesAndReportsACacheTheConverterReads) {
    const std::string cache = dir.file("cache.ztp");
    const auto made = run({cache, "2000", "--seed", "3", "--raw"});
    ASSERT_EQ(0, made.exitCode) << made.err;
    EXPECT_NE(std::string::npos, made.err.find("ztp-sample: wrote " + cache + " (raw, seed 3)\n")) << made.err;
    const std::string report = words(made.err);
    EXPECT_NE(std::string::npos, report.find(" Pool Particle-Liquid 1400 particles ")) << made.err;
    EXPECT_NE(std::string::npos, report.find(" Fountain Particle-Liquid 600 particles ")) << made.err;
    EXPECT_NE(std::string::npos, report.find(" Mist Field-Smoke 0 particles ")) << made.err;
    EXPECT_NE(std::string::npos, report.find(" 3 bodies, 2000 particles, ")) << made.err;
    EXPECT_EQ("", made.out);

    const auto converted = runProgram({CB_CONVERTER_PATH, cache, dir.file("out.txscene"), "p", "0.01", "24", "1"},
                                      dir.path());
    EXPECT_EQ(0, converted.exitCode) << converted.err;
    EXPECT_EQ(0u, converted.out.find("exported 2000 particles\n")) << converted.out;
}

TEST_F(SampleProgram, WrongCallsPrintTheUsageAndFail) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {dir.file("x.ztp"), "lots"}, {dir.file("x.ztp"), "5", "--zip"}}) {
        const auto r = run(args);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(0u, r.err.find("ztp-sample: ")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("usage: " + std::string(CB_SAMPLE_PATH) +
                                                " output_file particle_count [--seed N] [--raw]\n"))
            << r.err;
    }
    EXPECT_FALSE(testsupport::fileExists(dir.file("x.ztp")));
    const auto help = run({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_EQ(0u, help.err.find("usage: ")) << help.err;
}

TEST_F(SampleProgram, AMissingInstallationFailsBeforeWriting) {
    const std::string cache = dir.file("cache.ztp");
    {
        testsupport::ScopedEnv unset("CORIX_PATH", nullptr);
        const auto r = run({cache, "10"});
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(0u, r.err.find("ztp-sample: CORIX_PATH is not set; ")) << r.err;
    }
    {
        testsupport::ScopedEnv empty("CORIX_PATH", dir.path().c_str());
        const auto r = run({cache, "10"});
        EXPECT_EQ(1, r.exitCode);
        EXPECT_NE(std::string::npos,
                  r.err.find("ztp-sample: Can't create body of type 'Particle-Liquid': missing .Sig\n"))
            << r.err;
    }
    EXPECT_FALSE(testsupport::fileExists(cache));
}
