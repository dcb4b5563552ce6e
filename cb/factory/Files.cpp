#include "cb/factory/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "cb/Log.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void throwLoadError(const std::string& path, int error) {
    throw ztx::base(zt::cat("Error loading file ", path, ": ", std::strerror(error)));
}

// Text-mode reading: "\r\n" pairs become "\n"; a lone "\r" stays.
void translateLineEnds(std::string& text) {
    auto out = text.begin();
    for (auto in = text.begin(); in != text.end(); ++in) {
        if (*in == '\r' && in + 1 != text.end() && in[1] == '\n') continue;
        *out++ = *in;
    }
    text.erase(out, text.end());
}

}  // namespace

std::string getEnv(const std::string& name) {
    const char* raw = std::getenv(name.c_str());
    if (!raw) return std::string();
    try {
        std::string value(raw);
        if (value.size() > 1 && isSeparator(value.back())) value.pop_back();
        return value;
    } catch (const std::bad_alloc&) {
        throw ztx::base(zt::cat("Error allocating memory for environment variable: ", name));
    }
}

std::string corixRoot() {
    std::string root = getEnv("CORIX_PATH");
    if (root.empty()) throw ztx::base("Please set $CORIX_PATH to the Corix root directory.");
    return root;
}

std::vector<std::string> listDirectory(const std::string& dir) {
    const std::string pattern = toNativePath(dir + "/*");
    const std::string native = toNativePath(dir);
    std::unique_ptr<DIR, DirCloser> handle(opendir(native.c_str()));
    if (!handle) {
        logError("Invalid path: " + pattern);
        return {};
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(handle.get());
        if (!entry) {
            if (errno != 0) logError("Bad Path");
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        // stat, not lstat: a link to a regular file counts, a dangling link does not.
        struct stat status;
        if (::stat((native + "/" + name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& given) {
    const std::string path = toNativePath(given);
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) throwLoadError(path, errno);
    // Only regular files: a directory or a device such as /dev/zero would
    // fail late or never end.
    if (S_ISDIR(status.st_mode)) throwLoadError(path, EISDIR);
    if (!S_ISREG(status.st_mode)) throwLoadError(path, EINVAL);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) throwLoadError(path, errno);
    std::string text;
    // The size is a hint only: the file may change between stat and read.
    if (status.st_size > 0) text.reserve(size_t(status.st_size));
    char buffer[1 << 16];
    for (;;) {
        size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get())) throwLoadError(path, errno);
    translateLineEnds(text);
    return text;
}

std::string toNativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

bool hasExtension(const std::string& path, const std::string& ext) {
    if (path.size() <= ext.size() + 1) return false;
    const size_t start = path.size() - ext.size();
    return path[start - 1] == '.' && path.compare(start, ext.size(), ext) == 0;
}

std::string stripExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return path;
    const size_t separator = path.find_last_of("/\\");
    if (separator != std::string::npos && separator > dot) return path;
    return path.substr(0, dot);
}

namespace {

// The umask as the kernel reports it; false where it does not (before Linux 4.7).
bool reportedUmask(mode_t& mask) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) != 0) continue;
        char* end = nullptr;
        const unsigned long value = std::strtoul(line.c_str() + 6, &end, 8);
        if (end == line.c_str() + 6 || value > 0777) return false;
        mask = mode_t(value);
        return true;
    }
    return false;
}

}  // namespace

unsigned newFileMode() {
    static mode_t mask = 0;
    static std::once_flag once;
    std::call_once(once, [] {
        if (reportedUmask(mask)) return;
        mask = ::umask(0);
        ::umask(mask);
    });
    return 0666u & ~unsigned(mask);
}

std::string createFileBeside(const std::string& target) {
    const std::filesystem::path path(target);
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::string pattern = (folder / zt::cat(".", path.filename().string(), ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw ztx::base(zt::cat("Cannot create a file beside ", target, ": ", std::strerror(errno)));
    // mkstemp makes the file private.
    ::fchmod(fd, mode_t(newFileMode()));
    ::close(fd);
    return pattern;
}

bool replaceFile(const std::string& written, const std::string& target) noexcept {
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (::renameat2(AT_FDCWD, written.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
            // `written` now names the old file.
            ::unlink(written.c_str());
            return true;
        }
        // Not supported here, or the target went meanwhile: a plain rename.
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ENOENT) return false;
    }
    return ::rename(written.c_str(), target.c_str()) == 0;
}

}  // namespace Cb
