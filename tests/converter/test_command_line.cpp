// The command line: argument count, number parsing, parameter echo and exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "Converter.h"
#include "TempPath.h"

namespace {
const std::string kUsageTail =
    " input_file output_file plugin_name radius fps frame\nParameters:\n"
    "\tinput_file     The ztp file containing the particles\n"
    "\toutput_file    The resulting txscene file containing the particle geometry plugin\n"
    "\tplugin_name    The name of the generated plugin\n"
    "\tradius         The radius of the generated particles\n"
    "\tfps            The frames per seconds\n";

struct RunResult {
    int code;
    std::string out, err;
};

RunResult run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    testsupport::CaptureStderr err;
    testsupport::CaptureStdout out;
    int code = runConverter(int(argv.size()), argv.data());
    return {code, out.finish(), err.finish()};
}
}  // namespace

TEST(CommandLine, WrongArgumentCountsPrintUsage) {
    RunResult five = run({"prog", "in.ztp", "out.txscene", "p", "0.1", "24"});
    EXPECT_EQ(1, five.code);
    EXPECT_EQ("usage: prog" + kUsageTail, five.err);
    EXPECT_EQ("", five.out);
    RunResult seven = run({"prog", "in.ztp", "out.txscene", "p", "0.1", "24", "1", "extra"});
    EXPECT_EQ(1, seven.code);
    EXPECT_EQ("usage: prog" + kUsageTail, seven.err);
}

TEST(CommandLine, NumbersAreCheckedInOrderRadiusFirst) {
    RunResult radius = run({"prog", "in", "out", "p", "abc", "xyz", "1"});
    EXPECT_EQ(1, radius.code);
    EXPECT_EQ("Can't parse the radius parameter (abc)\nusage: prog" + kUsageTail, radius.err);
    RunResult fps = run({"prog", "in", "out", "p", "0.1", "xyz", "qq"});
    EXPECT_EQ("Can't parse the fps parameter (xyz)\nusage: prog" + kUsageTail, fps.err);
    RunResult frame = run({"prog", "in", "out", "p", "0.1", "24", "qq"});
    EXPECT_EQ("Can't parse the frame parameter (qq)\nusage: prog" + kUsageTail, frame.err);
}

TEST(CommandLine, ParametersAreEchoedAndFailureNamesTheOutput) {
    testsupport::TempDir dir;
    const std::string out = dir.file("out.txscene");
    // Trailing characters after a number are accepted.
    RunResult r = run({"prog", dir.file("missing.ztp"), out, "particles", "0.1x", "24", "12.5"});
    EXPECT_EQ(1, r.code);
    EXPECT_EQ("", r.out);
    const std::string echo = "Actual parameters:\n\tinput: " + dir.file("missing.ztp") + "\n\toutput: " + out +
                             "\n\tshape name: particles\n\tradius: 0.100\n\tfps: 24.000\n\tframe: 12.500\n";
    EXPECT_EQ(0u, r.err.find(echo)) << r.err;
    const std::string tail = "Error reading file " + out + "!\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(tail, r.err.substr(r.err.size() - tail.size()));
    EXPECT_FALSE(testsupport::fileExists(out));
}
