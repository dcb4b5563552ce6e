#include "zt/block3.h"

#include <algorithm>
#include <cstring>

#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/cat.h"
#include "zt/compression_buffer.h"
#include "zt/ztx.h"

namespace zt {

namespace {

template <class T>
using scalar_t = typename scalar_of<T>::type;

// Integer sums run in a wider type than the elements, so a mean over many
// large values cannot overflow; a float sum stays in float.
template <class S>
using sum_t = std::conditional_t<std::is_floating_point_v<S>, S,
                                 std::conditional_t<(sizeof(S) < 8), int64_t, __int128>>;

template <class S>
constexpr S largest() {
    return std::numeric_limits<S>::max();
}

// The element type's largest value negated: -2147483647 for int, not INT_MIN.
template <class S>
constexpr S negatedLargest() {
    return S(-std::numeric_limits<S>::max());
}

// A float mean truncated to an integer type; rounding cannot carry it past
// the type's range.
template <class S>
S truncateMean(float mean) {
    if constexpr (std::is_floating_point_v<S>) {
        return mean;
    } else {
        constexpr float lo = float(std::numeric_limits<S>::lowest());
        constexpr float hi = float(std::numeric_limits<S>::max());
        if (!(mean > lo)) return std::numeric_limits<S>::lowest();
        if (mean >= hi) return std::numeric_limits<S>::max();
        return S(mean);
    }
}

template <class T, class Pick>
vec3f extreme(const array1<T>& elements, scalar_t<T> start, Pick pick) {
    using S = scalar_t<T>;
    constexpr int C = components<T>::value;
    if (elements.count() == 0) return vec3f{};
    S best[C];
    std::fill_n(best, C, start);
    for (const T& e : elements) {
        if constexpr (C == 1) {
            best[0] = pick(best[0], e);
        } else {
            for (int c = 0; c < C; ++c) best[c] = pick(best[c], e[c]);
        }
    }
    if constexpr (C == 1)
        return widen3f(best[0]);
    else
        return widen3f(T{{best[0], best[1], best[2]}});
}

}  // namespace

template <class T>
vec3f block3<T>::min3f() const {
    using S = scalar_t<T>;
    return extreme(elements_, largest<S>(), [](S a, S b) { return b < a ? b : a; });
}

template <class T>
vec3f block3<T>::max3f() const {
    using S = scalar_t<T>;
    return extreme(elements_, negatedLargest<S>(), [](S a, S b) { return b > a ? b : a; });
}

template <class T>
vec3f block3<T>::mean3f() const {
    using S = scalar_t<T>;
    constexpr int C = components<T>::value;
    const int64_t n = elements_.count();
    if (n == 0) return vec3f{};
    sum_t<S> sum[C] = {};
    for (const T& e : elements_) {
        if constexpr (C == 1) {
            sum[0] += e;
        } else {
            for (int c = 0; c < C; ++c) sum[c] += e[c];
        }
    }
    const float inverse = 1.0f / float(n);
    S mean[C];
    for (int c = 0; c < C; ++c) mean[c] = truncateMean<S>(float(sum[c]) * inverse);
    if constexpr (C == 1)
        return widen3f(mean[0]);
    else
        return widen3f(T{{mean[0], mean[1], mean[2]}});
}

template <class T>
void block3<T>::resize(int64_t n) {
    if (n > kMaxBlockElements)
        throw ztx::base(cat("Cannot resize a particle block to ", n, " elements"));
    elements_.resize(n, default_);
    freeIfEmpty();
}

template <class T>
void block3<T>::eraseOne(int index) {
    if (index >= 0 && index < elements_.count()) elements_.swapRemove(index);
}

template <class T>
void block3<T>::eraseIndices(const array1<int>& indices) {
    for (int64_t r = indices.count() - 1; r >= 0; --r) eraseOne(indices[r]);
    freeIfEmpty();
}

template <class T>
void block3<T>::eraseSet(const std::set<int>& indices) {
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) eraseOne(*it);
    freeIfEmpty();
}

template <class T>
void block3<T>::decode(const uint8_t* bytes, uint64_t size, uint64_t rawCount) {
    array1<T> decoded;
    if (rawCount == kRawPiece) {
        if (size % sizeof(T) != 0 || size / sizeof(T) > uint64_t(kMaxBlockElements))
            throw ztx::base(cat("Cannot decode ", size, " raw bytes as whole particle block elements of ",
                                sizeof(T), " bytes"));
        decoded.resize(int64_t(size / sizeof(T)));
        if (size > 0) std::memcpy(decoded.data(), bytes, size);
    } else {
        if (rawCount > uint64_t(kMaxBlockElements) || rawCount > maxInflatedSize(size) / sizeof(T))
            throw ztx::base(
                cat("Cannot decode ", size, " compressed bytes into ", rawCount, " particle block elements"));
        decoded.resize(int64_t(rawCount));
        if (rawCount > 0) decompressBuffer(bytes, size, decoded.data(), rawCount * sizeof(T));
    }
    elements_.swap(decoded);
}

template <class T>
void block3<T>::readLegacy(Cb::ZtpInput& in) {
    i_ = in.readI32();
    j_ = in.readI32();
    k_ = in.readI32();
    array1<T> elements;
    Cb::readLegacyArray(elements, in);
    if (elements.count() > kMaxBlockElements) throw ztx::base("Error reading ztp array");
    elements_.swap(elements);
}

template <class T>
void block3<T>::readRaw(Cb::ZtpInput& in, uint64_t size) {
    if (size % sizeof(T) != 0 || size / sizeof(T) > uint64_t(kMaxBlockElements))
        throw ztx::base(cat("Cannot read ", size, " raw bytes as whole particle block elements of ", sizeof(T),
                            " bytes"));
    array1<T> elements(int64_t(size / sizeof(T)));
    if (in.readRaw(elements.data(), size_t(size)) != Cb::ZtpInput::ReadResult::Ok)
        throw ztx::base(cat("Error reading a particle block of ", size, " bytes from ", in.name()));
    elements_.swap(elements);
}

template class block3<int8_t>;
template class block3<int>;
template class block3<float>;
template class block3<vec3i>;
template class block3<vec3f>;
template class block3<int64_t>;

}  // namespace zt
