#pragma once
// The time record handed to every expression evaluation, copied by value.

#include <cstdint>

namespace Cb {

struct FrameTime {
    float frame = 0.0f;
    int32_t timestep = 0;
    double time = 0.0;
    double time2 = 0.0;  // carried along; no node reads it
    double frameDt = 0.0;
    double dt = 0.0;
    uint8_t flag = 1;
};

}  // namespace Cb
