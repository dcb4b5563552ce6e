#pragma once
// Cb::ZtpWriter: the writer of ZTP files, always at version kZtpVersion. It
// owns the open file as a ZtpOutput (closed when the writer closes or dies);
// every record is written through stream() with the encodings of
// ZtpEncoding.h and CompressedArray.h.

#include <cstdint>

#include "cb/io/BodyWriter.h"
#include "cb/io/ZtpStream.h"

namespace Cb {

class ZtpWriter : public BodyWriter {
public:
    ZtpWriter() = default;
    ~ZtpWriter() override;

    // Creates (or truncates) the file and attaches it without writing
    // anything. Throws "Ztp::Writer(<file>) failed: Cannot open file for
    // writing." when it cannot be created.
    void openStream(const String& fileName);
    // Flushes and closes the file; a failed flush throws.
    void close() override;
    bool isOpen() const { return stream_.isOpen(); }

    // The open file; throws when there is none.
    ZtpOutput& stream();

    int32_t version() const { return kZtpVersion; }
    int64_t tell() { return stream().tell(); }
    void seek(int64_t offset) { stream().seek(offset); }

private:
    ZtpOutput stream_;
};

}  // namespace Cb
