#pragma once
// zt::block3_base / zt::block3<T>: the particles of one tile, for one
// particle channel. A block holds its tile coordinates and one contiguous
// array of elements; every channel of a particle shape has a block per tile
// with the same element count, so (block, element) names the same particle in
// all of them.
//
// Element types: int8_t, int, float, vec3i, vec3f, int64_t.
//
// Removal is swap-with-last: the block's last element moves into the freed
// place, so the order inside a block is not kept. A block left with no
// element frees its storage.

#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <span>
#include <type_traits>

#include "zt/array1.h"
#include "zt/vec.h"

namespace Cb {
class ZtpInput;
}

namespace zt {

// Element indices are the low 32 bits of a particle index (signed), so a
// block never holds more elements than this.
constexpr int64_t kMaxBlockElements = std::numeric_limits<int32_t>::max();

class block3_base {
public:
    block3_base(int i, int j, int k) : i_(i), j_(j), k_(k) {}
    block3_base(const block3_base&) = default;
    block3_base& operator=(const block3_base&) = delete;

    virtual ~block3_base() = default;
    // Deep copy.
    virtual std::unique_ptr<block3_base> clone() const = 0;
    // Sizes the per-element byte array to the element count.
    virtual void resizeMarks() = 0;
    // capacity x element size x 1e-6.
    virtual float memoryMB() const = 0;
    // Statistics as vec3f (scalars replicated); an empty block gives 0.
    // Integer means are truncated to the element type.
    virtual vec3f min3f() const = 0;
    virtual vec3f max3f() const = 0;
    virtual vec3f mean3f() const = 0;
    // Growing fills with the block's default value. Throws above kMaxBlockElements.
    virtual void resize(int64_t n) = 0;
    // Capacity becomes at least count + n.
    virtual void reserveMore(int64_t n) = 0;
    // The elements' memory image: what is stored, compressed or not, and what
    // the position digest reads.
    virtual std::span<const uint8_t> elementBytes() const = 0;
    // Removes the listed indices, walking the list from its last entry to its
    // first (so an ascending list is removed correctly). Indices outside the
    // block are ignored.
    virtual void eraseIndices(const array1<int>& indices) = 0;
    // The same, from the largest index to the smallest.
    virtual void eraseSet(const std::set<int>& indices) = 0;
    // Replaces the elements with stored bytes: rawCount kRawPiece (all ones)
    // means the bytes are the elements; otherwise they are a zlib stream of
    // rawCount elements. Throws for sizes that cannot hold whole elements or
    // cannot inflate to rawCount, and the zlib failures.
    virtual void decode(const uint8_t* bytes, uint64_t size, uint64_t rawCount) = 0;
    // Files before version 14: tile coordinates (3 x i32), then the elements
    // as a legacy array.
    virtual void readLegacy(Cb::ZtpInput& in) = 0;
    // Reads `size` bytes of raw elements straight into the block. Throws for
    // a size that holds a partial element, and for a short read.
    virtual void readRaw(Cb::ZtpInput& in, uint64_t size) = 0;
    // Capacity shrinks to the count.
    virtual void squeeze() = 0;
    virtual int64_t count() const = 0;
    virtual int64_t capacity() const = 0;
    virtual size_t elementSize() const = 0;

    int i() const { return i_; }
    int j() const { return j_; }
    int k() const { return k_; }
    vec3i coord() const { return {{i_, j_, k_}}; }
    bool empty() const { return count() == 0; }

    array1<uint8_t>& marks() { return marks_; }
    const array1<uint8_t>& marks() const { return marks_; }

protected:
    array1<uint8_t> marks_;
    int32_t i_, j_, k_;
};

template <class T>
class block3 final : public block3_base {
public:
    using value_type = T;

    block3(int i, int j, int k, const T& defaultValue = T()) : block3_base(i, j, k), default_(defaultValue) {}

    std::unique_ptr<block3_base> clone() const override { return std::make_unique<block3>(*this); }
    void resizeMarks() override { marks_.resize(elements_.count(), uint8_t(0)); }
    float memoryMB() const override { return float(elements_.capacity()) * float(sizeof(T)) * 1e-6f; }
    vec3f min3f() const override;
    vec3f max3f() const override;
    vec3f mean3f() const override;
    void resize(int64_t n) override;
    void reserveMore(int64_t n) override { elements_.reserve(elements_.count() + (n > 0 ? n : 0)); }
    std::span<const uint8_t> elementBytes() const override {
        return {reinterpret_cast<const uint8_t*>(elements_.data()), size_t(elements_.count()) * sizeof(T)};
    }
    void eraseIndices(const array1<int>& indices) override;
    void eraseSet(const std::set<int>& indices) override;
    void decode(const uint8_t* bytes, uint64_t size, uint64_t rawCount) override;
    void readLegacy(Cb::ZtpInput& in) override;
    void readRaw(Cb::ZtpInput& in, uint64_t size) override;
    void squeeze() override { elements_.squeeze(); }
    int64_t count() const override { return elements_.count(); }
    int64_t capacity() const override { return elements_.capacity(); }
    size_t elementSize() const override { return sizeof(T); }

    const T& defaultValue() const { return default_; }
    void setDefaultValue(const T& value) { default_ = value; }

    T* data() { return elements_.data(); }
    const T* data() const { return elements_.data(); }
    T& operator[](int64_t e) { return elements_[e]; }
    const T& operator[](int64_t e) const { return elements_[e]; }
    array1<T>& elements() { return elements_; }
    const array1<T>& elements() const { return elements_; }
    void append(const T& value) { elements_.push_back(value); }

private:
    void eraseOne(int index);
    void freeIfEmpty() {
        if (elements_.count() == 0) elements_.clear();
    }

    array1<T> elements_;
    T default_;
};

// A value widened to vec3f: scalars replicated, vectors component by component.
template <class T>
vec3f widen3f(const T& value) {
    if constexpr (is_vec<T>::value) {
        vec3f out{};
        for (int c = 0; c < 3 && c < components<T>::value; ++c) out[c] = float(value[c]);
        return out;
    } else {
        const float s = float(value);
        return {{s, s, s}};
    }
}

extern template class block3<int8_t>;
extern template class block3<int>;
extern template class block3<float>;
extern template class block3<vec3i>;
extern template class block3<vec3f>;
extern template class block3<int64_t>;

}  // namespace zt
