#pragma once
// Small pieces every part of the module shares: text from the library as
// Python strings, path arguments, and the particle element types with their
// NumPy counterparts.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cb/model/Channel.h"
#include "zt/vec.h"

namespace Cb {
class Shape;
}

namespace ztpy {

namespace py = pybind11;

// Library text as str: bytes that are not UTF-8 (a damaged name) come through
// as surrogate escapes, as file names do, rather than failing.
py::str text(const std::string& s);

// A str argument as library text: the inverse of text(), so names read from
// a file can be handed back whatever their bytes.
std::string textArg(const py::handle& s);

// str() of a Python object, for messages.
std::string describe(const py::handle& object);

// A str or os.PathLike argument as a path.
std::string pathArg(const py::handle& path);

// An element type: the NumPy scalar, and 1 or 3 components.
template <class T>
struct element_traits {
    using scalar = T;
    static constexpr int components = 1;
};
template <>
struct element_traits<zt::vec3f> {
    using scalar = float;
    static constexpr int components = 3;
};
template <>
struct element_traits<zt::vec3i> {
    using scalar = int32_t;
    static constexpr int components = 3;
};

// Throws "Channel '<name>' of type '<type>' has no array form".
[[noreturn]] void throwUnsupported(const Cb::Channel& channel);
[[noreturn]] void throwUnsupported(const std::string& name, int typeCode);

// Calls f(T{}) with the element type of a particle channel type code; other
// codes throw as throwUnsupported.
template <class F>
decltype(auto) withTypeCode(int code, const std::string& name, F&& f) {
    switch (code) {
        case Cb::kTypeVec3f: return f(zt::vec3f{});
        case Cb::kTypeVec3i: return f(zt::vec3i{});
        case Cb::kTypeFloat: return f(float{});
        case Cb::kTypeInt: return f(int32_t{});
        case Cb::kTypeInt64: return f(int64_t{});
        case Cb::kTypeInt8: return f(int8_t{});
        default: break;
    }
    throwUnsupported(name, code);
}

template <class F>
decltype(auto) withElementType(const Cb::Channel& channel, F&& f) {
    switch (channel.typeCode()) {
        case Cb::kTypeVec3f:
        case Cb::kTypeVec3i:
        case Cb::kTypeFloat:
        case Cb::kTypeInt:
        case Cb::kTypeInt64:
        case Cb::kTypeInt8: return withTypeCode(channel.typeCode(), channel.name(), std::forward<F>(f));
        default: throwUnsupported(channel);
    }
}

// A channel of a shape: its name and library type name.
struct ChannelEntry {
    std::string name;
    std::string type;
};
// Every channel of the shape, in shape order.
std::vector<ChannelEntry> channelEntries(const Cb::Shape& shape);

// A C-contiguous array of `rows` elements of T: shape (rows,) or (rows, 3).
template <class T>
py::array_t<typename element_traits<T>::scalar> newRows(int64_t rows) {
    using S = typename element_traits<T>::scalar;
    if constexpr (element_traits<T>::components == 1)
        return py::array_t<S>({py::ssize_t(rows)});
    else
        return py::array_t<S>({py::ssize_t(rows), py::ssize_t(3)});
}

}  // namespace ztpy
