#pragma once
// Cb::BodyWriter: the abstract writer of a file of bodies, with the time
// value that goes into the file's header.

#include "cb/io/BodyIo.h"

namespace Cb {

class BodyWriter : public BodyIo {
public:
    BodyWriter() = default;

    double time() const { return time_; }
    // Nothing in the converter sets it; files carry 0.0 unless a caller does.
    void setTime(double time) { time_ = time; }

private:
    double time_ = 0.0;
};

}  // namespace Cb
