#include "CaptureOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "TempPath.h"

namespace testsupport {

CaptureFd::CaptureFd(int fd) : fd_(fd) {
    std::string pattern = (std::filesystem::temp_directory_path() / "cbcapture_XXXXXX").string();
    int tmp = mkstemp(pattern.data());
    if (tmp < 0) throw std::runtime_error("mkstemp failed");
    path_ = pattern;
    std::fflush(fd == 1 ? stdout : stderr);
    std::cout.flush();
    std::cerr.flush();
    saved_ = dup(fd);
    dup2(tmp, fd);
    close(tmp);
}

std::string CaptureFd::finish() {
    if (!done_) {
        std::fflush(fd_ == 1 ? stdout : stderr);
        std::cout.flush();
        std::cerr.flush();
        dup2(saved_, fd_);
        close(saved_);
        text_ = readText(path_);
        std::remove(path_.c_str());
        done_ = true;
    }
    return text_;
}

CaptureFd::~CaptureFd() { finish(); }

}  // namespace testsupport
