#include "cb/encoding/ZtpStream.h"

#include <sys/stat.h>

#include <utility>

#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

FilePtr openFile(const std::string& path, const char* mode) { return FilePtr(std::fopen(path.c_str(), mode)); }

ZtpStream::ZtpStream(FILE* borrowed, std::string name) : file_(borrowed), name_(std::move(name)) {}

ZtpStream::ZtpStream(FilePtr owned, std::string name)
    : owned_(std::move(owned)), file_(owned_.get()), name_(std::move(name)) {}

ZtpStream::ZtpStream(ZtpStream&& other) noexcept
    : owned_(std::move(other.owned_)), file_(std::exchange(other.file_, nullptr)), name_(std::move(other.name_)) {}

ZtpStream& ZtpStream::operator=(ZtpStream&& other) noexcept {
    if (this != &other) {
        release();
        owned_ = std::move(other.owned_);
        file_ = std::exchange(other.file_, nullptr);
        name_ = std::move(other.name_);
    }
    return *this;
}

bool ZtpStream::release() noexcept {
    file_ = nullptr;
    if (!owned_) return true;
    return std::fclose(owned_.release()) == 0;
}

void ZtpStream::requireOpen() const {
    if (!file_) throw ztx::base(zt::cat("No open file ", name_));
}

int64_t ZtpStream::tell() const {
    requireOpen();
    off_t position = ftello(file_);
    if (position < 0) throw ztx::base(zt::cat("Cannot get the position in ", name_));
    return int64_t(position);
}

void ZtpStream::seek(int64_t offset) {
    requireOpen();
    if (fseeko(file_, off_t(offset), SEEK_SET) != 0)
        throw ztx::base(zt::cat("Cannot seek to offset ", offset, " in ", name_));
}

// ---------------------------------------------------------------------------

const char* const ZtpInput::kValueReadError = "Error reading ztp value";

namespace {
int64_t sizeOf(FILE* file, const std::string& name) {
    struct stat info;
    if (!file || fstat(fileno(file), &info) != 0) throw ztx::base(zt::cat("Cannot get the size of ", name));
    return int64_t(info.st_size);
}
}  // namespace

ZtpInput::ZtpInput(FILE* borrowed, std::string name, int32_t version)
    : ZtpStream(borrowed, std::move(name)), version_(version), size_(sizeOf(file(), this->name())) {}

ZtpInput::ZtpInput(FilePtr owned, std::string name, int32_t version)
    : ZtpStream(std::move(owned), std::move(name)), version_(version), size_(sizeOf(file(), this->name())) {}

int64_t ZtpInput::remaining() const {
    const int64_t position = tell();
    const int64_t end = limit_ >= 0 && limit_ < size_ ? limit_ : size_;
    return position < end ? end - position : 0;
}

void ZtpInput::seek(int64_t offset) {
    if (offset < 0 || offset > size_)
        throw ztx::base(
            zt::cat("Cannot seek to offset ", offset, " in ", name(), ": the file holds ", size_, " bytes"));
    ZtpStream::seek(offset);
}

ZtpInput::ReadResult ZtpInput::readRaw(void* destination, size_t n) {
    if (n == 0) return ReadResult::Ok;
    if (!file()) return ReadResult::Error;
    size_t got = std::fread(destination, 1, n, file());
    if (got == n && !std::ferror(file())) return ReadResult::Ok;
    return std::feof(file()) ? ReadResult::EndOfFile : ReadResult::Error;
}

void ZtpInput::readExact(void* destination, size_t n, const char* failure) {
    if (readRaw(destination, n) != ReadResult::Ok) throw ztx::base(failure);
}

bool ZtpInput::fits(int64_t count, int64_t elementSize) const {
    return count >= 0 && elementSize > 0 && count <= remaining() / elementSize;
}

int64_t ZtpInput::readCount(const char* failure) {
    int64_t count = read<int64_t>(failure);
    if (count < 0) throw ztx::base(failure);
    return count;
}

// ---------------------------------------------------------------------------

const char* const ZtpOutput::kValueWriteError = "Error writing ztp value";

ZtpOutput::ZtpOutput(FILE* borrowed, std::string name) : ZtpStream(borrowed, std::move(name)) {}

ZtpOutput::ZtpOutput(FilePtr owned, std::string name) : ZtpStream(std::move(owned), std::move(name)) {}

void ZtpOutput::close() {
    std::string closed = name();
    if (!release()) throw ztx::base(zt::cat("Error closing ", closed));
}

void ZtpOutput::writeExact(const void* source, size_t n, const char* failure) {
    if (n == 0) return;
    if (!file() || std::fwrite(source, 1, n, file()) != n || std::ferror(file())) throw ztx::base(failure);
}

}  // namespace Cb
