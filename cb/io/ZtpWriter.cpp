#include "cb/io/ZtpWriter.h"

#include <exception>

#include "cb/Log.h"
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

void ZtpWriter::close() {
    if (isOpen()) stream_.close();
}

ZtpOutput& ZtpWriter::stream() {
    if (!isOpen()) throw ztx::base(zt::cat("ZtpWriter(", fileName(), ") has no open file"));
    return stream_;
}

}  // namespace Cb
