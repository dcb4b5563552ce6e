#pragma once
// The log channel: one line per call on standard error, with a fixed prefix,
// composed whole and written with one write so worker threads never
// interleave inside a line.

#include <functional>
#include <iosfwd>
#include <string>

namespace Cb {

// "SILENT", "QUIET", "NORMAL" (the default) or "VERBOSE"; other values act as
// "NORMAL". Compared exactly, case included. Every log call reads it: set it
// while no other thread uses the library.
extern std::string verbosity;

void logInfo(const std::string& msg);     // "Corix: "; not at SILENT or QUIET
void logWarning(const std::string& msg);  // "Corix ** WARNING ** : "; not at SILENT
void logError(const std::string& msg);    // "***** CORIX ERROR: "; always

// True when verbosity is exactly "VERBOSE" (callers guard their detailed reports).
bool verbose();

// While it lives, the log lines of the thread that made it go to `sink` (each
// line whole, prefix included, without its line end) instead of standard
// error; the log file still gets them. Other threads, the workers of an
// OpenMP team included, keep writing to standard error. Redirections nest,
// the innermost receiving; each must end on the thread that made it.
class ThreadLogRedirect {
public:
    using Sink = std::function<void(const std::string& line)>;
    explicit ThreadLogRedirect(Sink sink);
    ~ThreadLogRedirect();
    ThreadLogRedirect(const ThreadLogRedirect&) = delete;
    ThreadLogRedirect& operator=(const ThreadLogRedirect&) = delete;

    // The log channel's side: hands a line to the calling thread's innermost
    // redirection; false when there is none.
    static bool deliver(const std::string& line);

private:
    Sink sink_;
    ThreadLogRedirect* outer_;
};

// The optional library log file. Absent by default; when present every log
// line is copied to it, and the memory reports write only to it.
std::ostream* logFile();
// Opens (truncating) the log file; returns false when it cannot be opened.
bool openLogFile(const std::string& path);
// Closes the log file if one is open; a failed close is reported as false.
bool closeLogFile();
// Writes one line (a line end is added) to the log file, if present.
void writeLogFile(const std::string& line);

}  // namespace Cb
