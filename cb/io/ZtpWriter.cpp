#include "cb/io/ZtpWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "cb/Log.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

ZtpWriter::~ZtpWriter() {
    try {
        close();
    } catch (const std::exception& e) {
        logError(e.what());
    }
}

void ZtpWriter::openStream(const String& fileName) {
    setFileName(fileName);
    FilePtr file = openFile(fileName, "wb");
    if (!file) throw ztx::base(zt::cat("Ztp::Writer(", fileName, ") failed: Cannot open file for writing."));
    stream_ = ZtpOutput(std::move(file), fileName);
}

namespace {

// The directory part of a path: everything before its last "/".
String directoryOf(const String& path) {
    const size_t slash = path.find_last_of('/');
    return slash == String::npos ? String() : path.substr(0, slash);
}

// Creates each missing directory of `dir`, from the top down. An existing
// directory is no error; other failures show when the file is opened.
void makeDirectories(const String& dir) {
    for (size_t slash = dir.find('/', 1); ; slash = dir.find('/', slash + 1)) {
        const String part = slash == String::npos ? dir : dir.substr(0, slash);
        if (!part.empty()) ::mkdir(part.c_str(), 0777);
        if (slash == String::npos) break;
    }
}

}  // namespace

void BodyWriter::open(const String& fileName) {
    setFileName(fileName);
    const String dir = directoryOf(fileName);
    if (!dir.empty()) ::mkdir(dir.c_str(), 0777);
}

void ZtpWriter::open(const String& fileName) {
    // The file still open gets its body count; left alone it would claim none.
    close();
    BodyWriter::open(fileName);
    FilePtr file = openFile(fileName, "wb");
    if (!file) {
        makeDirectories(directoryOf(fileName));
        file = openFile(fileName, "wb");
    }
    if (!file) throw ztx::base(zt::cat("Ztp::Writer(", fileName, ") failed: Cannot open file for writing."));
    stream_ = ZtpOutput(std::move(file), fileName);
    bodiesWritten_ = 0;
    stream_.writeU32(ZtpReader::kMagic);
    stream_.writeI32(kZtpVersion);
    stream_.writeF64(time());
    countPosition_ = stream_.tell();
    stream_.writeI32(0);
}

void ZtpWriter::writeBody(Body& body, const String& selection, bool compress) {
    const int64_t start = stream().tell();
    try {
        body.write(*this, selection, compress);
    } catch (...) {
        // The next record starts where this one did, and the file ends
        // there: it holds exactly the records it counts, whether or not
        // another body follows.
        try {
            stream_.seek(start);
            cutAt(start);
        } catch (const std::exception&) {
            // The stream itself failed; the first error is the one to report.
        }
        throw;
    }
    ++bodiesWritten_;
}

void ZtpWriter::cutAt(int64_t end) noexcept {
    // Only regular files have a length to cut (not /dev/full or a pipe); a
    // cut that fails leaves the body's own error as the one reported.
    FILE* file = stream_.file();
    struct stat status;
    if (!file || std::fflush(file) != 0 || ::fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return;
    [[maybe_unused]] const int cut = ::ftruncate(fileno(file), off_t(end));
}

void ZtpWriter::close() {
    if (!isOpen()) return;
    if (countPosition_ >= 0) {
        const int64_t end = stream_.tell();
        stream_.seek(countPosition_);
        stream_.writeI32(bodiesWritten_);
        stream_.seek(end);
        countPosition_ = -1;
    }
    stream_.close();
}

ZtpOutput& ZtpWriter::stream() {
    if (!isOpen()) throw ztx::base(zt::cat("ZtpWriter(", fileName(), ") has no open file"));
    return stream_;
}

}  // namespace Cb
