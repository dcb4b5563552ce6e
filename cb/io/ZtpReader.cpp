// ZtpReader's stream side: the open file and its state; the body records are
// read in ZtpReaderBodies.cpp.
#include "cb/io/ZtpReader.h"

#include <cerrno>
#include <cstring>

#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

ZtpReader::~ZtpReader() { stream_.close(); }

bool ZtpReader::openStream(const String& fileName, int32_t version) {
    if (isOpen()) return false;
    setFileName(fileName);
    FilePtr file = openFile(fileName, "rb");
    if (!file) {
        const int error = errno;
        if (!throwOnOpenFailure()) return false;
        throw ztx::base(zt::cat("ZtpReader(", fileName, ") failed: Cannot open file: ", std::strerror(error)));
    }
    stream_ = ZtpInput(std::move(file), fileName, version);
    setVersion(version);
    return true;
}

void ZtpReader::close() { stream_.close(); }

ZtpInput& ZtpReader::stream() {
    if (!isOpen()) throw ztx::base(zt::cat("ZtpReader(", fileName(), ") has no open file"));
    return stream_;
}

}  // namespace Cb
