// Log prefixes, verbosity rules and the optional log file.
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "TempPath.h"
#include "cb/Log.h"

namespace {
struct VerbosityGuard {
    std::string saved = Cb::verbosity;
    ~VerbosityGuard() { Cb::verbosity = saved; }
};

std::string logAll() {
    testsupport::CaptureStderr capture;
    Cb::logInfo("Scanning /x ...");
    Cb::logWarning("careful");
    Cb::logError("broken");
    return capture.finish();
}
}  // namespace

TEST(Log, PrefixesAtNormalVerbosity) {
    VerbosityGuard guard;
    EXPECT_EQ("NORMAL", Cb::verbosity);
    EXPECT_EQ("Corix: Scanning /x ...\nCorix ** WARNING ** : careful\n***** CORIX ERROR: broken\n", logAll());
}

TEST(Log, VerbositySuppressesByLevelAndComparesExactly) {
    VerbosityGuard guard;
    Cb::verbosity = "QUIET";
    EXPECT_EQ("Corix ** WARNING ** : careful\n***** CORIX ERROR: broken\n", logAll());
    Cb::verbosity = "SILENT";
    EXPECT_EQ("***** CORIX ERROR: broken\n", logAll());
    Cb::verbosity = "quiet";  // not a recognised value: acts as NORMAL
    EXPECT_EQ("Corix: Scanning /x ...\nCorix ** WARNING ** : careful\n***** CORIX ERROR: broken\n", logAll());
    EXPECT_FALSE(Cb::verbose());
    Cb::verbosity = "VERBOSE";
    EXPECT_TRUE(Cb::verbose());
}

TEST(Log, LogFileReceivesEveryLineAndMemoryReports) {
    VerbosityGuard guard;
    testsupport::TempDir dir;
    const std::string path = dir.file("lib.log");
    ASSERT_EQ(nullptr, Cb::logFile());
    ASSERT_TRUE(Cb::openLogFile(path));
    {
        testsupport::CaptureStderr capture;
        Cb::logWarning("w");
        Cb::writeLogFile("            Channel position: 0.5 MB");
        EXPECT_EQ("Corix ** WARNING ** : w\n", capture.finish());
    }
    EXPECT_TRUE(Cb::closeLogFile());
    EXPECT_EQ(nullptr, Cb::logFile());
    EXPECT_EQ("Corix ** WARNING ** : w\n            Channel position: 0.5 MB\n", testsupport::readText(path));
    EXPECT_FALSE(Cb::openLogFile(dir.file("missing/dir/lib.log")));
}
