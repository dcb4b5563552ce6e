#pragma once
// Cb::BodyIo: what every body reader and writer has, the name of its file.

#include <string>
#include <utility>

#include "cb/String.h"

namespace Cb {

class BodyIo {
public:
    BodyIo() = default;
    explicit BodyIo(String fileName) : fileName_(std::move(fileName)) {}
    BodyIo(const BodyIo&) = delete;
    BodyIo& operator=(const BodyIo&) = delete;
    virtual ~BodyIo();

    // Releases the file, if the reader or writer holds one.
    virtual void close();

    const String& fileName() const { return fileName_; }

protected:
    void setFileName(String fileName) { fileName_ = std::move(fileName); }

private:
    String fileName_;
};

}  // namespace Cb
