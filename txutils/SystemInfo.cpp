#include "txutils/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "txutils/Format.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace TxUtils {

namespace {

// The leading decimal number of `text`, advancing past it and one dot.
int leadingNumber(const char*& text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || value < 0 || value > INT_MAX) return 0;
    text = *end == '.' ? end + 1 : end;
    return int(value);
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

std::string osDescription() {
    utsname name;
    if (uname(&name) != 0) return std::string();
    const char* release = name.release;
    const int major = leadingNumber(release);
    const int minor = leadingNumber(release);
    return format("%s, version %i.%i, %s", name.sysname, major, minor, name.release);
}

std::string computerName() {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::string();
    return host;
}

std::string formatClock(int hours, int minutes, int seconds) {
    return format("%02i:%02i:%02i", hours, minutes, seconds);
}

std::string currentClock() {
    const std::tm now = localNow();
    return formatClock(now.tm_hour, now.tm_min, now.tm_sec);
}

std::string formatDate(int day, int month, int year) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12) throw ztx::base(zt::cat("Invalid month: ", month));
    return format("%i/%s/%i", day, kMonths[month - 1], year);
}

std::string currentDate() {
    const std::tm now = localNow();
    return formatDate(now.tm_mday, now.tm_mon + 1, now.tm_year + 1900);
}

std::string formatDuration(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 0;
    // Rounded to the tenth first, so 119.96 s reads 2m 0.0s and never 1m 60.0s.
    seconds = std::round(seconds * 10) / 10;
    const double hours = std::floor(seconds / 3600);
    seconds -= hours * 3600;
    const double minutes = std::floor(seconds / 60);
    seconds -= minutes * 60;
    const int wholeHours = hours < INT_MAX ? int(hours) : INT_MAX;
    return format("%2ih %2im %4.1fs", wholeHours, int(minutes), seconds);
}

std::string debugLogFileName(const std::string& prefix, int number) {
    return format("%stessix_dbg_log_%d", prefix.c_str(), number);
}

}  // namespace TxUtils
