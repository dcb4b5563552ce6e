#pragma once
// Captures what the process writes to standard error (or output) at the file
// descriptor level, so C stdio, iostreams and the log channel are all seen.

#include <string>

namespace testsupport {

class CaptureFd {
public:
    explicit CaptureFd(int fd);  // 1 or 2
    ~CaptureFd();
    CaptureFd(const CaptureFd&) = delete;
    CaptureFd& operator=(const CaptureFd&) = delete;

    // Stops capturing (once) and returns everything written meanwhile.
    std::string finish();

private:
    int fd_;
    int saved_ = -1;
    std::string path_;
    std::string text_;
    bool done_ = false;
};

struct CaptureStderr : CaptureFd {
    CaptureStderr() : CaptureFd(2) {}
};
struct CaptureStdout : CaptureFd {
    CaptureStdout() : CaptureFd(1) {}
};

}  // namespace testsupport
