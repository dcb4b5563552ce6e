#pragma once
// Exceptions never leave an OpenMP region: each worker runs its piece through
// capture(), one failure is kept, and rethrow() raises it on the calling
// thread once the loop is over. Given the piece's place in the loop, the kept
// failure is that of the earliest failing piece, as a serial loop would have
// met it, whatever the threads' timing.

#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>

namespace zt {

class parallel_errors {
public:
    template <class F>
    void capture(int64_t order, F&& work) noexcept {
        try {
            work();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!first_ || order < order_) {
                first_ = std::current_exception();
                order_ = order;
            }
        }
    }
    // The first failure in time: for work without a place in a loop.
    template <class F>
    void capture(F&& work) noexcept {
        capture(std::numeric_limits<int64_t>::max(), std::forward<F>(work));
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
    int64_t order_ = 0;
};

}  // namespace zt
