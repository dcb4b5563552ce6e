#include "cb/model/BufferChannel.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include "cb/encoding/CompressedArray.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/ChannelElement.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// First version whose buffer channels store their elements as a chunked
// compressed array; older files hold a legacy array.
constexpr int32_t kCompressedArrayVersion = 14;

[[noreturn]] void invalidBufferPosition() { throw ztx::base("Invalid reference to Buffer position"); }

// Sums of integer components are kept wider than the element so that large
// channels do not overflow; the mean is still truncated to the element type.
template <class S>
using SumOf = std::conditional_t<std::is_floating_point_v<S>, S,
                                 std::conditional_t<(sizeof(S) < 8), int64_t, __int128>>;

// A float mean truncated toward zero to the integer type S, kept inside S's
// range where float rounding steps past it.
template <class S>
S truncateTo(float value) {
    constexpr float kUpper = float(std::numeric_limits<S>::max());  // 2^31 or 2^63 after rounding
    if (value >= kUpper) return std::numeric_limits<S>::max();
    if (value <= -kUpper) return std::numeric_limits<S>::min();
    return S(value);
}

// The point index an index-vector component names; floats are truncated.
// Values no int can hold give -1, which no channel holds.
template <class S>
int64_t pointIndex(S value) {
    if constexpr (std::is_floating_point_v<S>) {
        if (!(value > -2147483649.0f && value < 2147483648.0f)) return -1;
        return int64_t(int(value));
    } else {
        return int64_t(value);
    }
}

// Centre weight of an element of N point indices.
template <int N>
constexpr float kCentreWeight = N == 2 ? 0.5f : N == 3 ? 0.3333333f : 0.25f;

// Component-wise extreme of the elements, starting every component at
// `start`; an empty array gives 0.
template <class T, class Better>
zt::vec3f extremeOf(const zt::array1<T>& elements, typename zt::scalar_of<T>::type start, Better better) {
    using S = typename zt::scalar_of<T>::type;
    constexpr int N = zt::components<T>::value;
    if (elements.empty()) return {0, 0, 0};
    S best[N];
    for (int c = 0; c < N; ++c) best[c] = start;
    for (const T& value : elements) {
        const S* v = reinterpret_cast<const S*>(&value);
        for (int c = 0; c < N; ++c)
            if (better(v[c], best[c])) best[c] = v[c];
    }
    return widen3f(*reinterpret_cast<const T*>(best));
}

}  // namespace

float BufferChannelBase::sample(const zt::vec3f&, const zt::tile_layout3*, int) const {
    throw ztx::base("Buffer-Channel sampling not yet implemented.");
}

template <class T>
BufferChannel<T>::BufferChannel() = default;

template <class T>
BufferChannel<T>::BufferChannel(const T& defaultValue) : default_(defaultValue) {}

template <class T>
BufferChannel<T>::BufferChannel(const BufferChannel& other)
    : BufferChannelBase(other), default_(other.default_), elements_(other.elements_) {}

template <class T>
const char* BufferChannel<T>::staticTypeName() {
    static const std::string name = std::string("buffer::") + ChannelElement<T>::word;
    return name.c_str();
}

template <class T>
uint64_t BufferChannel<T>::size() const {
    return uint64_t(elements_.count());
}

template <class T>
float BufferChannel<T>::memoryMB() const {
    return float(double(elements_.capacity()) * double(sizeof(T)) * 1e-6);
}

template <class T>
bool BufferChannel<T>::empty() const {
    return elements_.count() == 0;
}

template <class T>
std::string BufferChannel<T>::typeName() const {
    return staticTypeName();
}

template <class T>
int BufferChannel<T>::typeCode() const {
    return ChannelElement<T>::code;
}

template <class T>
Channel* BufferChannel<T>::clone() const {
    return new BufferChannel<T>(*this);
}

template <class T>
zt::vec3f BufferChannel<T>::defaultValue3f() const {
    return widen3f(default_);
}

template <class T>
zt::vec3f BufferChannel<T>::min3f() const {
    using S = typename zt::scalar_of<T>::type;
    return extremeOf(elements_, std::numeric_limits<S>::max(), [](S a, S b) { return a < b; });
}

template <class T>
zt::vec3f BufferChannel<T>::max3f() const {
    using S = typename zt::scalar_of<T>::type;
    return extremeOf(elements_, -std::numeric_limits<S>::max(), [](S a, S b) { return a > b; });
}

template <class T>
zt::vec3f BufferChannel<T>::mean3f() const {
    using S = typename zt::scalar_of<T>::type;
    constexpr int N = zt::components<T>::value;
    if (elements_.empty()) return {0, 0, 0};
    SumOf<S> sum[N] = {};
    for (const T& value : elements_) {
        const S* v = reinterpret_cast<const S*>(&value);
        for (int c = 0; c < N; ++c) sum[c] += v[c];
    }
    const float count = float(elements_.count());
    S mean[N];
    for (int c = 0; c < N; ++c) {
        const float m = float(sum[c]) / count;
        if constexpr (std::is_floating_point_v<S>)
            mean[c] = m;
        else
            mean[c] = truncateTo<S>(m);
    }
    return widen3f(*reinterpret_cast<const T*>(mean));
}

template <class T>
const T& BufferChannel<T>::at(int64_t index) const {
    if (index < 0 || index >= elements_.count())
        throw ztx::base(zt::cat("Index ", index, " out of range in buffer channel '", name(), "' of ",
                                elements_.count(), " elements"));
    return elements_[index];
}

template <class T>
zt::vec3f BufferChannel<T>::position3f(int64_t index, const Channel* pointPositions) const {
    if constexpr (std::is_same_v<T, zt::vec3f>) {
        (void)pointPositions;
        return at(index);
    } else if constexpr (zt::is_vec<T>::value) {
        const T& element = at(index);
        if (!pointPositions) invalidBufferPosition();
        zt::vec3f sum{0, 0, 0};
        for (int k = 0; k < T::size; ++k) {
            const int64_t point = pointIndex(element[k]);
            for (int c = 0; c < 3; ++c) sum[c] += pointPositions->component(point, c);
        }
        constexpr float w = kCentreWeight<T::size>;
        return {sum[0] * w, sum[1] * w, sum[2] * w};
    } else {
        (void)index;
        (void)pointPositions;
        invalidBufferPosition();
    }
}

template <class T>
float BufferChannel<T>::component(int64_t index, int c) const {
    return elementComponent(at(index), c);
}

template <class T>
void BufferChannel<T>::write(ZtpWriter& writer, bool compress) {
    writeHeader(writer);
    ZtpOutput& out = writer.stream();
    out.write(default_);
    writeCompressedArray(elements_, out, compress);
}

template <class T>
void BufferChannel<T>::read(ZtpReader& reader) {
    ZtpInput& in = reader.stream();
    const T defaultValue = in.read<T>();
    zt::array1<T> elements;
    if (reader.version() >= kCompressedArrayVersion)
        readCompressedArray(elements, in);
    else
        readLegacyArray(elements, in);
    default_ = defaultValue;
    elements_.swap(elements);
}

template <class T>
void BufferChannel<T>::clear() {
    elements_.clear();
}

template <class T>
void BufferChannel<T>::resizeLike(const Channel& master) {
    elements_.resize(int64_t(master.size()), default_);
}

template <class T>
void BufferChannel<T>::copyFrom(int64_t start, const BufferChannelBase& source) {
    const auto* typed = dynamic_cast<const BufferChannel<T>*>(&source);
    const int64_t n = elements_.count();
    const char* fault = nullptr;
    if (!typed)
        fault = "the source is of another type";
    else if (start < 0)
        fault = "negative start";
    else if (start < n && typed->elements_.count() < n - start)
        fault = "the source holds too few elements";
    if (fault)
        throw ztx::base(zt::cat("Cannot copy buffer channel '", source.name(), "' (", source.typeName(), ") into '",
                                name(), "' (", typeName(), ") from ", start, ": ", fault));
    // memmove: a channel copied into itself reads what it held before.
    if (start < n) std::memmove(elements_.data() + start, typed->elements_.data(), size_t(n - start) * sizeof(T));
}

template <class T>
void BufferChannel<T>::resize(int64_t n) {
    elements_.resize(n);
}

template <class T>
void* BufferChannel<T>::rawData() {
    return elements_.data();
}

template <class T>
const void* BufferChannel<T>::rawData() const {
    return elements_.data();
}

template <class T>
size_t BufferChannel<T>::elementBytes() const {
    return sizeof(T);
}

template class BufferChannel<int>;
template class BufferChannel<float>;
template class BufferChannel<int64_t>;
template class BufferChannel<zt::vec2i>;
template class BufferChannel<zt::vec2f>;
template class BufferChannel<zt::vec3i>;
template class BufferChannel<zt::vec3f>;
template class BufferChannel<zt::vec4i>;
template class BufferChannel<zt::vec4f>;

}  // namespace Cb
