#pragma once
// zt::array1<T>: the library's growable one-dimensional array of trivially
// copyable elements, with 64-bit signed count and capacity. Growth goes to
// twice the capacity plus one; a failed allocation throws "Out of memory.".

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "zt/ztx.h"

namespace zt {

template <class T>
class array1 {
    static_assert(std::is_trivially_copyable_v<T>, "array1 holds plain data only");

public:
    array1() = default;
    explicit array1(int64_t count) { resize(count); }
    array1(const array1& other) { *this = other; }
    array1(array1&& other) noexcept { swap(other); }
    ~array1() { std::free(data_); }

    array1& operator=(const array1& other) {
        if (this != &other) {
            clear();
            reserve(other.n_);
            if (other.n_ > 0) std::memcpy(data_, other.data_, size_t(other.n_) * sizeof(T));
            n_ = other.n_;
        }
        return *this;
    }
    array1& operator=(array1&& other) noexcept {
        if (this != &other) {
            clear();
            swap(other);
        }
        return *this;
    }

    int64_t count() const { return n_; }
    int64_t size() const { return n_; }
    int64_t capacity() const { return cap_; }
    bool empty() const { return n_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T* begin() { return data_; }
    T* end() { return data_ + n_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + n_; }

    T& operator[](int64_t i) {
        assert(i >= 0 && i < n_ && "i>=0 && i<n");
        return data_[i];
    }
    const T& operator[](int64_t i) const {
        assert(i >= 0 && i < n_ && "i>=0 && i<n");
        return data_[i];
    }
    T& back() { return (*this)[n_ - 1]; }

    // Capacity becomes at least `capacity`; elements keep their values.
    void reserve(int64_t capacity) {
        if (capacity <= cap_) return;
        if (uint64_t(capacity) > uint64_t(PTRDIFF_MAX) / sizeof(T)) throw ztx::base("Out of memory.");
        void* p = std::realloc(data_, size_t(capacity) * sizeof(T));
        if (!p) throw ztx::base("Out of memory.");
        data_ = static_cast<T*>(p);
        cap_ = capacity;
    }

    // New elements are not initialised.
    void resize(int64_t count) {
        if (count < 0) count = 0;
        reserve(count);
        n_ = count;
    }

    // New elements take `fill`.
    void resize(int64_t count, const T& fill) {
        int64_t old = n_;
        resize(count);
        for (int64_t i = old; i < n_; ++i) data_[i] = fill;
    }

    void push_back(const T& value) {
        if (n_ == cap_) grow();
        data_[n_++] = value;
    }

    // Removes element i by moving the last element into its place.
    void swapRemove(int64_t i) {
        assert(i >= 0 && i < n_ && "i>=0 && i<n");
        data_[i] = data_[n_ - 1];
        --n_;
    }

    void erase(int64_t i) {
        assert(i >= 0 && i < n_ && "i>=0 && i<n");
        std::memmove(data_ + i, data_ + i + 1, size_t(n_ - i - 1) * sizeof(T));
        --n_;
    }

    void insert(int64_t i, const T& value) {
        assert(i >= 0 && i <= n_);
        if (n_ == cap_) grow();
        std::memmove(data_ + i + 1, data_ + i, size_t(n_ - i) * sizeof(T));
        data_[i] = value;
        ++n_;
    }

    void fill(const T& value) {
        for (int64_t i = 0; i < n_; ++i) data_[i] = value;
    }

    // Frees the storage: count and capacity become 0.
    void clear() {
        std::free(data_);
        data_ = nullptr;
        n_ = cap_ = 0;
    }

    // Shrinks the capacity to the count.
    void squeeze() {
        if (cap_ == n_) return;
        if (n_ == 0) {
            clear();
            return;
        }
        void* p = std::realloc(data_, size_t(n_) * sizeof(T));
        if (p) {
            data_ = static_cast<T*>(p);
            cap_ = n_;
        }
    }

    void swap(array1& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(n_, other.n_);
        std::swap(cap_, other.cap_);
    }

private:
    void grow() { reserve(cap_ * 2 + 1); }

    T* data_ = nullptr;
    int64_t n_ = 0;
    int64_t cap_ = 0;
};

}  // namespace zt
