#pragma once
// Captures what the process writes to standard error (or output) at the file
// descriptor level, so C stdio, iostreams (synchronised with stdio) and the
// log channel are all seen.

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace testsupport {

class CaptureFd {
public:
    explicit CaptureFd(int fd) : fd_(fd), file_(std::tmpfile(), &std::fclose) {  // fd: 1 or 2
        if (!file_) throw std::runtime_error("tmpfile failed");
        std::fflush(nullptr);
        saved_ = dup(fd);
        dup2(fileno(file_.get()), fd);
    }
    ~CaptureFd() { finish(); }

    // Stops capturing (once) and returns everything written meanwhile.
    std::string finish() {
        if (!file_) return text_;
        std::fflush(nullptr);
        dup2(saved_, fd_);
        close(saved_);
        std::rewind(file_.get());
        for (int c; (c = std::fgetc(file_.get())) != EOF;) text_ += char(c);
        file_.reset();
        return text_;
    }

private:
    int fd_, saved_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    std::string text_;
};

struct CaptureStderr : CaptureFd {
    CaptureStderr() : CaptureFd(2) {}
};
struct CaptureStdout : CaptureFd {
    CaptureStdout() : CaptureFd(1) {}
};

}  // namespace testsupport
