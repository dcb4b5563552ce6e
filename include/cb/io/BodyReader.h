#pragma once
// Cb::BodyReader: the abstract reader of a file of bodies. It carries the
// file's time and layout version once a file has been read, and what the
// caller asked for: which bodies (a pattern of names), as which signature,
// moved by which transform, and whether an unopenable file is an error.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cb/String.h"
#include "cb/io/BodyIo.h"

namespace Cb {

class Body;

// One body of a reader's table: its name, the body as read from the file, and
// the copy being handed out.
struct BodyTableEntry {
    explicit BodyTableEntry(String bodyName, std::unique_ptr<Body> storedBody);
    BodyTableEntry(BodyTableEntry&&) noexcept;
    BodyTableEntry& operator=(BodyTableEntry&&) noexcept;
    ~BodyTableEntry();

    String name;
    std::unique_ptr<Body> handedOut;
    std::unique_ptr<Body> stored;
};

class BodyReader : public BodyIo {
public:
    // A 4x4 matrix in row-vector form, translation in elements 12, 13, 14.
    using Transform = std::array<float, 16>;
    static constexpr Transform kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // The version a reader reports until it has read a file's header.
    static constexpr int32_t kUnreadVersion = 1;

    BodyReader() = default;
    // "*" reads every body; otherwise names separated by blanks or tabs.
    BodyReader(String fileName, String bodyNamePattern, String signatureName);
    // Deletes every stored and handed-out body.
    ~BodyReader() override;

    // Stores the file name, pattern and signature name; readers of a format
    // then read the file. Returns whether a file was read.
    virtual bool open(const String& fileName, const String& bodyNamePattern, const String& signatureName);
    // The time value of a file's header, without touching this reader.
    virtual bool readHeaderInfo(const String& fileName, double& time);
    virtual int bodyCount() const;
    virtual String fileExtension() const = 0;
    // The body as read; null when the entry holds none.
    virtual Body* storedBody(int i) const = 0;

    // A copy of body i that the caller owns: its "Motion Type" (if any) set
    // to "Unsolved" and the reader's transform applied. Throws "Cannot access
    // out-of-bounds body index <i> in BodyReader".
    std::unique_ptr<Body> takeBody(int i);
    const String& bodyName(int i) const { return table_.at(size_t(i)).name; }
    // "*" matches every name; otherwise a name matches one of the pattern's
    // words exactly.
    static bool nameMatches(const String& pattern, const String& name);

    double time() const { return time_; }
    int32_t version() const { return version_; }

    bool throwOnOpenFailure() const { return throwOnOpenFailure_; }
    // When false, a file that cannot be opened leaves the reader empty.
    void setThrowOnOpenFailure(bool enabled) { throwOnOpenFailure_ = enabled; }

    const String& bodyNamePattern() const { return bodyNamePattern_; }
    const String& signatureName() const { return signatureName_; }

    // Applied to every body handed out.
    const Transform& transform() const { return transform_; }
    void setTransform(const Transform& transform) { transform_ = transform; }

protected:
    void setTime(double time) { time_ = time; }
    void setVersion(int32_t version) { version_ = version; }
    void setBodyNamePattern(String pattern) { bodyNamePattern_ = std::move(pattern); }
    void setSignatureName(String name) { signatureName_ = std::move(name); }

    std::vector<BodyTableEntry> table_;

private:
    double time_ = 0.0;
    int32_t version_ = kUnreadVersion;
    bool throwOnOpenFailure_ = true;
    String bodyNamePattern_;
    String signatureName_ = "Body";
    Transform transform_ = kIdentity;
};

}  // namespace Cb
