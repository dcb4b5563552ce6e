#pragma once
// Descriptions of the machine and fixed text formats for clock times, dates,
// durations and debug-log file names. Nothing in the converter calls them.

#include <string>

namespace TxUtils {

// "<system>, version <major>.<minor>, <release>" from uname, for example
// "Linux, version 6.1, 6.1.0-18-amd64". Major and minor are the leading
// numbers of the release (0 when it has none); "" when uname fails.
std::string osDescription();

// The host name from gethostname, "" when it cannot be read.
std::string computerName();

// "%02i:%02i:%02i".
std::string formatClock(int hours, int minutes, int seconds);
// The local time of day in that format.
std::string currentClock();

// "%i/%s/%i": day, the month's three-letter English name, year. A month
// outside 1..12 throws "Invalid month: " + month.
std::string formatDate(int day, int month, int year);
// Today's local date in that format.
std::string currentDate();

// "%2ih %2im %4.1fs": whole hours, whole minutes, then the seconds left.
// Negative and non-finite durations count as 0.
std::string formatDuration(double seconds);

// "%stessix_dbg_log_%d": the directory prefix as given (with its separator),
// then the number (a process id by convention).
std::string debugLogFileName(const std::string& prefix, int number);

}  // namespace TxUtils
