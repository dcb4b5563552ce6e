#pragma once
// Cb::ZtpReader: the reader of ZTP files. It owns the open file as a
// ZtpInput (closed when the reader closes or dies); every record is read
// through stream() with the encodings of ZtpEncoding.h and CompressedArray.h.

#include <cstdint>
#include <memory>

#include "cb/encoding/ZtpStream.h"
#include "cb/io/BodyReader.h"

namespace Cb {

// The file starts with a header (u32 magic 0xABBAABB1, i32 version, f64
// time, i32 body count) followed by the body records. Opening reads every
// body record; particle and field data stay in the file and are loaded when
// first used, by reopening the file by name.
class ZtpReader : public BodyReader {
public:
    static constexpr uint32_t kMagic = 0xABBAABB1u;
    // The newest layout version; every older one from 1 on is read.
    static constexpr int32_t kNewestVersion = 16;

    ZtpReader() = default;
    // Reads the file (see open). A failure destroys the reader and passes on.
    ZtpReader(const String& fileName, const String& bodyNamePattern, const String& signatureName);
    ~ZtpReader() override;

    // Does nothing on an open reader. Opens the file ("ZtpReader(<file>)
    // failed: Cannot open file: <system text>" unless throwOnOpenFailure() is
    // false), logs "Reading ZTP: <file>", checks the magic ("ZtpReader: bad
    // magic in <file>") and version, then reads every body record, keeping the
    // bodies whose names match the pattern. A damaged record ends the reading
    // with the warning "Corrupt ZTP: <reason>"; the bodies read before it stay.
    bool open(const String& fileName, const String& bodyNamePattern, const String& signatureName) override;
    // Reads the time of a file's header: false when the file cannot be opened;
    // throws "bad magic in ztp <file>" or "Error reading ztp value".
    bool readHeaderInfo(const String& fileName, double& time) override;
    String fileExtension() const override { return "ztp"; }
    Body* storedBody(int i) const override;

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

    // The body count of the file's header (0 before a header is read); it
    // exceeds the bodies read when a damaged record ended the reading or
    // the pattern left bodies out.
    int32_t headerBodyCount() const { return headerBodyCount_; }
    // The warning text that ended the reading ("Corrupt ZTP: <reason>"), empty
    // when every body record was read.
    const String& damage() const { return damage_; }

    int64_t tell() { return stream().tell(); }
    void seek(int64_t offset) { stream().seek(offset); }
    int64_t fileSize() { return stream().size(); }
    int64_t remaining() { return stream().remaining(); }

private:
    // One body record, created through the factory as `requested` (or, for
    // "Body", as the type the file names). Failures come out as "Corrupt ZTP: ".
    std::unique_ptr<Body> readBody(const String& requested);
    void readBodyRecord(Body& body, const String& storedSignature);

    ZtpInput stream_;
    int32_t headerBodyCount_ = 0;
    String damage_;
};

}  // namespace Cb
