#pragma once
// Exceptions never leave an OpenMP region: each worker runs its piece through
// capture(), the first failure is kept, and rethrow() raises it on the
// calling thread once the loop is over.

#include <exception>
#include <mutex>

namespace zt {

class parallel_errors {
public:
    template <class F>
    void capture(F&& work) noexcept {
        try {
            work();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!first_) first_ = std::current_exception();
        }
    }

    bool failed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return first_ != nullptr;
    }

    void rethrow() {
        if (first_) {
            std::exception_ptr e = first_;
            first_ = nullptr;
            std::rethrow_exception(e);
        }
    }

private:
    mutable std::mutex mutex_;
    std::exception_ptr first_;
};

}  // namespace zt
