#pragma once
// Cb::ZtpReader: the reader of ZTP files. It owns the open file as a
// ZtpInput (closed when the reader closes or dies); every record is read
// through stream() with the encodings of ZtpEncoding.h and CompressedArray.h.

#include <cstdint>

#include "cb/io/BodyReader.h"
#include "cb/io/ZtpStream.h"

namespace Cb {

class ZtpReader : public BodyReader {
public:
    ZtpReader() = default;
    ~ZtpReader() override;

    // Attaches the file without reading anything from it; the stream's
    // position is 0 and `version` governs the version gates of what is read.
    // Returns false, doing nothing, when a file is already open, and when the
    // file cannot be opened and throwOnOpenFailure() is false. Throws
    // "ZtpReader(<file>) failed: Cannot open file: <system text>".
    bool openStream(const String& fileName, int32_t version);
    // Closes the file; what was read stays.
    void close() override;
    bool isOpen() const { return stream_.isOpen(); }

    // The open file; throws when there is none.
    ZtpInput& stream();

    int64_t tell() { return stream().tell(); }
    void seek(int64_t offset) { stream().seek(offset); }
    int64_t fileSize() { return stream().size(); }
    int64_t remaining() { return stream().remaining(); }

    String fileExtension() const { return "ztp"; }

private:
    ZtpInput stream_;
};

}  // namespace Cb
