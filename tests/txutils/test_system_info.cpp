// The system descriptions and the fixed text formats.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <regex>
#include <string>

#include "MessageOf.h"
#include "txutils/SystemInfo.h"

TEST(SystemInfo, OsDescriptionComesFromUname) {
    utsname name;
    ASSERT_EQ(0, uname(&name));
    const std::string text = TxUtils::osDescription();
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, std::regex(R"((.+), version (\d+)\.(\d+), (.+))"))) << text;
    EXPECT_EQ(name.sysname, match[1].str());
    EXPECT_EQ(name.release, match[4].str());
    EXPECT_EQ(0u, std::string(name.release).find(match[2].str() + "." + match[3].str()));
}

TEST(SystemInfo, ComputerNameIsTheHostName) {
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(0, gethostname(host, sizeof host - 1));
    EXPECT_EQ(host, TxUtils::computerName());
    EXPECT_FALSE(TxUtils::computerName().empty());
}

TEST(SystemInfo, ClockAndDateFormats) {
    EXPECT_EQ("05:07:09", TxUtils::formatClock(5, 7, 9));
    EXPECT_EQ("23:59:60", TxUtils::formatClock(23, 59, 60));
    EXPECT_EQ("14/Mar/2024", TxUtils::formatDate(14, 3, 2024));
    EXPECT_EQ("1/Jan/1970", TxUtils::formatDate(1, 1, 1970));
    EXPECT_EQ("31/Dec/1999", TxUtils::formatDate(31, 12, 1999));
    EXPECT_EQ("Invalid month: 13", testsupport::messageOf([] { TxUtils::formatDate(1, 13, 2000); }));
    EXPECT_EQ("Invalid month: 0", testsupport::messageOf([] { TxUtils::formatDate(1, 0, 2000); }));
    EXPECT_TRUE(std::regex_match(TxUtils::currentClock(), std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(TxUtils::currentDate(), std::regex(R"(\d{1,2}/[A-Z][a-z]{2}/\d{4})")));
}

TEST(SystemInfo, DurationFormat) {
    EXPECT_EQ(" 1h  2m  5.5s", TxUtils::formatDuration(3725.5));
    EXPECT_EQ(" 0h  0m  0.0s", TxUtils::formatDuration(0));
    EXPECT_EQ(" 0h  0m 59.9s", TxUtils::formatDuration(59.94));
    EXPECT_EQ(" 0h  2m  0.0s", TxUtils::formatDuration(119.96));  // never "1m 60.0s"
    EXPECT_EQ("27h 46m 40.0s", TxUtils::formatDuration(100000));
    EXPECT_EQ(" 0h  0m  0.0s", TxUtils::formatDuration(-3));
    EXPECT_EQ(" 0h  0m  0.0s", TxUtils::formatDuration(std::nan("")));
}

TEST(SystemInfo, DebugLogFileName) {
    EXPECT_EQ("/tmp/tessix_dbg_log_42", TxUtils::debugLogFileName("/tmp/", 42));
    EXPECT_EQ("tessix_dbg_log_-1", TxUtils::debugLogFileName("", -1));
}
