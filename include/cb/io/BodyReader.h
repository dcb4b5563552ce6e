#pragma once
// Cb::BodyReader: the abstract reader of a file of bodies. It carries the
// file's time and layout version once a file has been read, and what the
// caller asked for: which bodies (a pattern of names), as which signature,
// moved by which transform, and whether an unopenable file is an error.

#include <array>
#include <cstdint>

#include "cb/String.h"
#include "cb/io/BodyIo.h"

namespace Cb {

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

private:
    double time_ = 0.0;
    int32_t version_ = kUnreadVersion;
    bool throwOnOpenFailure_ = true;
    String bodyNamePattern_;
    String signatureName_ = "Body";
    Transform transform_ = kIdentity;
};

}  // namespace Cb
