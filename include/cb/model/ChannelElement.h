#pragma once
// Element types of channels: their type-name words ("int", "vec3f", ...),
// type codes, and the widening of a value to three floats that defaults and
// statistics use (a scalar s gives (s, s, s), a 2-vector (x, y, 0), a
// 4-vector its first three components).

#include <cstdint>

#include "cb/model/Channel.h"
#include "zt/vec.h"

namespace Cb {

template <class T>
struct ChannelElement;

#define CB_CHANNEL_ELEMENT(T, WORD, CODE)               \
    template <>                                         \
    struct ChannelElement<T> {                          \
        static constexpr const char* word = WORD;       \
        static constexpr int code = CODE;               \
    }

CB_CHANNEL_ELEMENT(int8_t, "int8", kTypeInt8);
CB_CHANNEL_ELEMENT(int, "int", kTypeInt);
CB_CHANNEL_ELEMENT(int64_t, "int64", kTypeInt64);
CB_CHANNEL_ELEMENT(float, "float", kTypeFloat);
CB_CHANNEL_ELEMENT(zt::vec2i, "vec2i", kTypeVec2i);
CB_CHANNEL_ELEMENT(zt::vec2f, "vec2f", kTypeVec2f);
CB_CHANNEL_ELEMENT(zt::vec3i, "vec3i", kTypeVec3i);
CB_CHANNEL_ELEMENT(zt::vec3f, "vec3f", kTypeVec3f);
CB_CHANNEL_ELEMENT(zt::vec4i, "vec4i", kTypeVec4i);
CB_CHANNEL_ELEMENT(zt::vec4f, "vec4f", kTypeVec4f);

#undef CB_CHANNEL_ELEMENT

// Component c of a value as float; scalars ignore c, vectors give 0 for a
// component they do not have.
template <class T>
float elementComponent(const T& value, int c) {
    if constexpr (zt::is_vec<T>::value) {
        return c >= 0 && c < T::size ? float(value[c]) : 0.0f;
    } else {
        (void)c;
        return float(value);
    }
}

template <class T>
zt::vec3f widen3f(const T& value) {
    if constexpr (zt::is_vec<T>::value) {
        return {elementComponent(value, 0), elementComponent(value, 1), elementComponent(value, 2)};
    } else {
        const float s = float(value);
        return {s, s, s};
    }
}

}  // namespace Cb
