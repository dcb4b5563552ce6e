#pragma once
// Cb::BodyWriter: the abstract writer of a file of bodies, with the time
// value that goes into the file's header.

#include "cb/io/BodyIo.h"

namespace Cb {

class Body;

class BodyWriter : public BodyIo {
public:
    BodyWriter() = default;

    // Stores the name and creates the directory that holds the file (one
    // level; a failure is left to the opening of the file).
    virtual void open(const String& fileName);
    // One body record; `selection` picks shapes and channels ("*.*" writes
    // everything), `compress` the compressed encodings for channel data.
    virtual void writeBody(Body& body, const String& selection, bool compress) = 0;

    double time() const { return time_; }
    // Nothing in the converter sets it; files carry 0.0 unless a caller does.
    void setTime(double time) { time_ = time; }

private:
    double time_ = 0.0;
};

}  // namespace Cb
