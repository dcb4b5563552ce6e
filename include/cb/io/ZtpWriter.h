#pragma once
// Cb::ZtpWriter: the writer of ZTP files, always at version kZtpVersion. It
// owns the open file as a ZtpOutput (closed when the writer closes or dies);
// every record is written through stream() with the encodings of
// ZtpEncoding.h and CompressedArray.h.

#include <cstdint>

#include "cb/encoding/ZtpStream.h"
#include "cb/io/BodyWriter.h"

namespace Cb {

class ZtpWriter : public BodyWriter {
public:
    ZtpWriter() = default;
    // Closes as close() does when still open.
    ~ZtpWriter() override;

    // Closes a file still open (as close() does), creates the new one, making
    // every missing directory of its path, and writes the header (magic,
    // version, time, body count 0). Throws
    // "Ztp::Writer(<file>) failed: Cannot open file for writing.".
    void open(const String& fileName) override;
    // The body's record (see Body::write); counts it for the header. When
    // the body fails part-way the error passes on, the body is not counted,
    // the file is cut back to where its record began and the next record
    // starts there.
    void writeBody(Body& body, const String& selection, bool compress) override;
    int32_t bodiesWritten() const { return bodiesWritten_; }

    // Creates (or truncates) the file and attaches it without writing
    // anything. Throws "Ztp::Writer(<file>) failed: Cannot open file for
    // writing." when it cannot be created.
    void openStream(const String& fileName);
    // Patches the header's body count (after open), then flushes and closes
    // the file; a failed flush throws. A file whose writer never closed keeps
    // the count 0, so readers see no half-written bodies.
    void close() override;
    bool isOpen() const { return stream_.isOpen(); }

    // The open file; throws when there is none.
    ZtpOutput& stream();

    int32_t version() const { return kZtpVersion; }
    int64_t tell() { return stream().tell(); }
    void seek(int64_t offset) { stream().seek(offset); }

private:
    // Ends a regular file at `end`, best effort (the position is kept).
    void cutAt(int64_t end) noexcept;

    ZtpOutput stream_;
    int64_t countPosition_ = -1;
    int32_t bodiesWritten_ = 0;
};

}  // namespace Cb
