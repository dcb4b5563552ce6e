// The command line: what is accepted, the exact texts of wrong calls, the
// report, and the program run as a user runs it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "CaptureOutput.h"
#include "SampleCache.h"
#include "SampleCommand.h"
#include "TempPath.h"
#include "cb/Version.h"

namespace {

struct Parsed {
    bool ok;
    sample::SampleOptions options;
    std::string error;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "ztp-sample");
    Parsed p;
    p.ok = sample::parseSampleOptions(int(args.size()), args.data(), p.options, p.error);
    return p;
}

// runSample's exit code, a colon, then what it wrote to standard error
// (standard output goes to `out` when given).
std::string run(std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), "ztp-sample");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    testsupport::CaptureStderr err;
    testsupport::CaptureStdout output;
    const int code = sample::runSample(int(argv.size()), argv.data());
    const std::string printed = output.finish();
    if (out) *out = printed;
    return std::to_string(code) + ":" + err.finish();
}

}  // namespace

TEST(SampleOptions, OptionsGoAnywhereAndWrongCallsSayWhatIsWrong) {
    const std::tuple<std::vector<const char*>, int64_t, uint64_t, bool> good[] = {
        {{"out.ztp", "100"}, 100, sample::kDefaultSeed, true},
        {{"--raw", "out.ztp", "--seed", "42", "0"}, 0, 42, false},
        {{"out.ztp", "2000000000", "--seed=18446744073709551615"}, sample::kMaxParticles, 18446744073709551615u, true}};
    for (const auto& [args, particles, seed, compress] : good) {
        const Parsed p = parse(args);
        EXPECT_TRUE(p.ok && p.options.output == "out.ztp" && p.options.particles == particles &&
                    p.options.seed == seed && p.options.compress == compress && !p.options.help)
            << p.error << particles;
    }
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    EXPECT_TRUE(parse({"--version"}).ok);
    const std::string count = "ztp-sample: the particle count must be a whole number from 0 to 2000000000, not '";
    const std::string seed = "ztp-sample: the seed must be a whole number from 0 to 18446744073709551615, not '";
    std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "ztp-sample: expected an output file and a particle count"},
        {{"out.ztp"}, "ztp-sample: expected an output file and a particle count"},
        {{"out.ztp", "5", "more"}, "ztp-sample: unexpected argument 'more'"},
        {{"", "5"}, "ztp-sample: the output file name is empty"},
        {{"out.ztp", "-5"}, "ztp-sample: unknown option '-5'"},
        {{"out.ztp", "5", "--fast"}, "ztp-sample: unknown option '--fast'"},
        {{"out.ztp", "5", "--seed"}, "ztp-sample: --seed needs a value"},
        {{"out.ztp", "5", "--seed=18446744073709551616"}, seed + "18446744073709551616'"},
        {{"out.ztp", "5", "--seed="}, seed + "'"},
    };
    for (const char* bad : {"2000000001", "12x", "1e6", "+5", " 5", "99999999999999999999999"})
        cases.push_back({{"out.ztp", bad}, count + bad + "'"});
    for (const auto& [args, message] : cases) {
        const Parsed p = parse(args);
        EXPECT_FALSE(p.ok) << message;
        EXPECT_EQ(message, p.error);
    }
}

TEST(SampleProgram, ReportUsageAndAMissingInstallation) {
    const sample::CacheSummary summary{
        {{"Pool", "Particle-Liquid", 1400, 12, 0.1f}, {"Mist", "Field-Smoke", 0, 3, 0.05f}}};
    EXPECT_EQ("ztp-sample: wrote x.ztp (raw, seed 3)\n"
              "  Pool       Particle-Liquid          1400 particles      12 tiles  voxel 0.1\n"
              "  Mist       Field-Smoke                 0 particles       3 tiles  voxel 0.05\n"
              "  2 bodies, 1400 particles, 15 tiles\n",
              sample::describeCache("x.ztp", 3, false, summary));

    testsupport::TempDir dir;
    const std::string cache = dir.file("cache.ztp");
    const std::string usage = "usage: ztp-sample output_file particle_count [--seed N] [--raw]\n";
    EXPECT_EQ(0u, run({cache, "5", "--zip"}).find("1:ztp-sample: unknown option '--zip'\n" + usage));
    // Asked for, usage and version are the output; after a wrong call the
    // usage goes with the message to standard error.
    std::string out;
    EXPECT_EQ("0:", run({"--help"}, &out));
    EXPECT_EQ(0u, out.find(usage + "       ztp-sample --help | --version\n")) << out;
    EXPECT_EQ("0:", run({"--version"}, &out));
    EXPECT_EQ("ztp-sample " CB_VERSION_STRING "\n", out);
    EXPECT_EQ(0u, run({"--versions"}, &out).find("1:ztp-sample: unknown option '--versions'\n" + usage));
    EXPECT_EQ("", out);
    {
        testsupport::ScopedEnv unset("CORIX_PATH", nullptr);
        EXPECT_EQ(0u, run({cache, "10"}).find("1:ztp-sample: CORIX_PATH is not set; "));
    }
    EXPECT_FALSE(testsupport::fileExists(cache));
    testsupport::ScopedEnv corix("CORIX_PATH", (std::string(CB_SOURCE_DIR) + "/share/corix").c_str());
    testsupport::ScopedEnv userSig("CORIX_USER_SIG_PATH", nullptr);
    const std::string made = run({cache, "2000", "--seed", "3", "--raw"});
    EXPECT_EQ(0u, made.find("0:")) << made;
    EXPECT_NE(std::string::npos, made.find("\nztp-sample: wrote " + cache + " (raw, seed 3)\n")) << made;
    EXPECT_NE(std::string::npos, made.find("  3 bodies, 2000 particles, ")) << made;
}
