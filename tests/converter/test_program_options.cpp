// --help and --version of the converter: recognised only alone, on standard
// output with exit 0; any other call keeps the six-argument form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConverterCall.h"
#include "cb/Version.h"

namespace {

using Outcome = testsupport::ConverterCall;

Outcome call(std::vector<std::string> args) { return testsupport::callConverter(std::move(args)); }

}  // namespace

TEST(ConverterOptions, VersionIsTheLibraryVersionMatchingItsNumbers) {
    const Outcome v = call({"--version"});
    EXPECT_EQ(0, v.code);
    EXPECT_EQ("", v.err);
    // The string the build reads must agree with the numbers beside it.
    EXPECT_EQ("ztp2txscene " + std::to_string(CB_VERSION_MAJOR) + "." + std::to_string(CB_VERSION_MINOR) + "." +
                  std::to_string(CB_VERSION_PATCH) + "\n",
              v.out);
}

TEST(ConverterOptions, HelpIsTheUsageOnStandardOutput) {
    const Outcome h = call({"--help"});
    EXPECT_EQ(0, h.code);
    EXPECT_EQ("", h.err);
    EXPECT_EQ(0u, h.out.find("usage: prog input_file output_file plugin_name radius fps frame\nParameters:\n"
                             "\tinput_file     The ztp file containing the particles\n"))
        << h.out;
    EXPECT_NE(std::string::npos, h.out.find("\n       prog --help | --version\n")) << h.out;
}

TEST(ConverterOptions, OptionsAmongOtherArgumentsAreAWrongCall) {
    // Not alone: the usage on standard error, exit 1, as for any wrong count.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version", "x"}, {"x", "--help"}, {"-h"}, {"--Version"}}) {
        const Outcome o = call(args);
        EXPECT_EQ(1, o.code) << args[0];
        EXPECT_EQ("", o.out);
        EXPECT_EQ(0u, o.err.find("usage: prog input_file output_file plugin_name radius fps frame\n")) << o.err;
        EXPECT_EQ(std::string::npos, o.err.find("--version")) << o.err;
    }
}
