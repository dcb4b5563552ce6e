#pragma once
// CbRefPtr<T>: the counted handle through which bodies hold shapes and their
// layout, and shapes hold channels. The handle block (object, count, no-delete
// flag) is shared by every copy; write access detaches a shared object by
// cloning it, so copies of a body never see each other's changes.

#include <cassert>
#include <cstdint>
#include <utility>

namespace Cb {

namespace detail {
template <class T>
concept Clonable = requires(const T& t) {
    { t.clone() };
};

template <class T>
T* deepCopy(const T& object) {
    if constexpr (Clonable<T>)
        return static_cast<T*>(object.clone());
    else
        return new T(object);
}
}  // namespace detail

template <class T>
class CbRefPtr {
    struct Handle {
        T* object;
        int32_t refCount;
        bool noDelete;
    };

public:
    CbRefPtr() = default;
    // Takes ownership of `object` unless `noDelete` is set.
    explicit CbRefPtr(T* object, bool noDelete = false)
        : handle_(object ? new Handle{object, 1, noDelete} : nullptr) {}
    CbRefPtr(const CbRefPtr& other) : handle_(other.handle_) {
        if (handle_) ++handle_->refCount;
    }
    CbRefPtr(CbRefPtr&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ~CbRefPtr() { release(); }

    CbRefPtr& operator=(const CbRefPtr& other) {
        if (handle_ != other.handle_) {
            CbRefPtr copy(other);
            std::swap(handle_, copy.handle_);
        }
        return *this;
    }
    CbRefPtr& operator=(CbRefPtr&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    void reset(T* object = nullptr, bool noDelete = false) { *this = CbRefPtr(object, noDelete); }

    T* get() const { return handle_ ? handle_->object : nullptr; }
    T& operator*() const { return *checked(); }
    T* operator->() const { return checked(); }
    explicit operator bool() const { return get() != nullptr; }

    int32_t refCount() const { return handle_ ? handle_->refCount : 0; }
    bool shared() const { return refCount() > 1; }

    // Gives this handle a private copy of a shared object (copy-on-write).
    void detach() {
        if (handle_ && handle_->refCount > 1) {
            T* copy = detail::deepCopy(*handle_->object);
            --handle_->refCount;
            handle_ = new Handle{copy, 1, false};
        }
    }

    // The object for modification: detached first.
    T* mutableGet() {
        detach();
        return get();
    }

    friend bool operator==(const CbRefPtr& a, const CbRefPtr& b) { return a.handle_ == b.handle_; }

private:
    T* checked() const {
        assert(handle_ && handle_->refCount > 0 && "_refCount>0");
        return handle_->object;
    }

    void release() {
        if (!handle_) return;
        if (--handle_->refCount == 0) {
            if (!handle_->noDelete) delete handle_->object;
            delete handle_;
        }
        handle_ = nullptr;
    }

    Handle* handle_ = nullptr;
};

}  // namespace Cb
