// The system descriptions and the fixed text formats.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <regex>

#include "MessageOf.h"
#include "txutils/SystemInfo.h"

TEST(SystemInfo, OsDescriptionAndComputerNameComeFromTheSystem) {
    utsname name;
    ASSERT_EQ(0, uname(&name));
    int major = 0, minor = 0;
    std::sscanf(name.release, "%d.%d", &major, &minor);
    EXPECT_EQ(std::string(name.sysname) + ", version " + std::to_string(major) + "." + std::to_string(minor) + ", " +
                  name.release,
              TxUtils::osDescription());
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(0, gethostname(host, sizeof host - 1));
    EXPECT_EQ(host, TxUtils::computerName());
}

TEST(SystemInfo, ClockDateDurationAndLogFileFormats) {
    const std::pair<std::string, std::string> cases[] = {
        {"05:07:09", TxUtils::formatClock(5, 7, 9)},
        {"23:59:60", TxUtils::formatClock(23, 59, 60)},
        {"14/Mar/2024", TxUtils::formatDate(14, 3, 2024)},
        {"1/Jan/1970", TxUtils::formatDate(1, 1, 1970)},
        {"31/Dec/1999", TxUtils::formatDate(31, 12, 1999)},
        {"Invalid month: 13", testsupport::messageOf([] { TxUtils::formatDate(1, 13, 2000); })},
        {"Invalid month: 0", testsupport::messageOf([] { TxUtils::formatDate(1, 0, 2000); })},
        {" 1h  2m  5.5s", TxUtils::formatDuration(3725.5)},
        {" 0h  0m 59.9s", TxUtils::formatDuration(59.94)},
        {" 0h  2m  0.0s", TxUtils::formatDuration(119.96)},  // never "1m 60.0s"
        {"27h 46m 40.0s", TxUtils::formatDuration(100000)},
        {" 0h  0m  0.0s", TxUtils::formatDuration(-3)},
        {" 0h  0m  0.0s", TxUtils::formatDuration(std::nan(""))},
        {"/tmp/tessix_dbg_log_42", TxUtils::debugLogFileName("/tmp/", 42)},
        {"tessix_dbg_log_-1", TxUtils::debugLogFileName("", -1)},
    };
    for (const auto& [expected, actual] : cases) EXPECT_EQ(expected, actual);
    EXPECT_TRUE(std::regex_match(TxUtils::currentClock(), std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(TxUtils::currentDate(), std::regex(R"(\d{1,2}/[A-Z][a-z]{2}/\d{4})")));
}
