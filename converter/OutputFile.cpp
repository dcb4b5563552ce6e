#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cb/factory/Files.h"

namespace {

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// mkstemp in `folder`, the name starting with `stem`; -1 on failure.
int makeTemporary(const std::string& folder, const std::string& stem, std::string& path) {
    std::string pattern = (folder.empty() ? std::string(".") : folder) + "/." + stem + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd >= 0) {
        path = name.data();
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return fd;
}

}  // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    if (target_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code error;
    // A link to a file is followed, as opening the target would follow it.
    fs::path place = fs::weakly_canonical(fs::path(target_), error);
    if (error) place = target_;
    mode_ = Cb::newFileMode();
    struct stat st;
    if (::stat(place.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode) || ::access(place.c_str(), W_OK) != 0) return;
        replace_ = S_ISREG(st.st_mode);
        if (replace_) mode_ = st.st_mode & 07777;
    }
    const std::string stem = place.filename().string();
    descriptor_ = replace_ ? makeTemporary(place.parent_path().string(), stem, temporary_)
                           : makeTemporary(temporaryFolder(), "ztp2txscene-" + std::to_string(::getpid()), temporary_);
    if (replace_) target_ = place.string();
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::reserve(uint64_t size) {
    size_ = size;
    if (ready() && ::ftruncate(descriptor_, off_t(size)) != 0) fail(0);
}

void OutputFile::fail(uint64_t offset) noexcept {
    int64_t seen = failure_.load();
    while ((seen < 0 || int64_t(offset) < seen) && !failure_.compare_exchange_weak(seen, int64_t(offset))) {
    }
}

void OutputFile::write(uint64_t offset, const void* data, size_t size) noexcept {
    if (!ready()) return;
    const auto* at = static_cast<const char*>(data);
    uint64_t position = offset;
    while (size > 0) {
        const ssize_t done = ::pwrite(descriptor_, at, size, off_t(position));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            fail(position);
            return;
        }
        at += done;
        position += uint64_t(done);
        size -= size_t(done);
    }
}

bool OutputFile::commit() {
    if (!ready() || failure_.load() >= 0) return false;
    if (!replace_) return copyInto();
    const bool closed = ::fchmod(descriptor_, mode_t(mode_)) == 0 && ::close(descriptor_) == 0;
    descriptor_ = -1;
    // A close that fails may have lost written bytes.
    if (!closed) {
        fail(0);
        return false;
    }
    if (!Cb::replaceFile(temporary_, target_)) return false;
    temporary_.clear();
    return true;
}

// A device or a pipe takes the bytes in order, as the target itself; plain
// writes, so that a failure is known at its byte.
bool OutputFile::copyInto() {
    const int out = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        fail(0);
        return false;
    }
    std::vector<char> buffer(size_t(1) << 20);
    uint64_t done = 0;
    bool ok = true;
    while (ok && done < size_) {
        const size_t n = size_t(std::min<uint64_t>(buffer.size(), size_ - done));
        const ssize_t got = ::pread(descriptor_, buffer.data(), n, off_t(done));
        if (got <= 0) {
            fail(done);
            ok = false;
            break;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t w = ::write(out, buffer.data() + put, size_t(got - put));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                fail(done + uint64_t(put));
                ok = false;
                break;
            }
            put += w;
        }
        done += uint64_t(got);
    }
    if (::close(out) != 0 && ok) {
        fail(size_ > 0 ? size_ - 1 : 0);
        ok = false;
    }
    return ok;
}
