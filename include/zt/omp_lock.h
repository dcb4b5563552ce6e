#pragma once
// zt::omp_lock: an OpenMP lock that lives exactly as long as its owner.
// It satisfies Lockable, so std::lock_guard and std::scoped_lock work on it.

#include <omp.h>

namespace zt {

class omp_lock {
public:
    omp_lock() { omp_init_lock(&lock_); }
    ~omp_lock() { omp_destroy_lock(&lock_); }
    omp_lock(const omp_lock&) = delete;
    omp_lock& operator=(const omp_lock&) = delete;

    void lock() { omp_set_lock(&lock_); }
    void unlock() { omp_unset_lock(&lock_); }
    bool try_lock() { return omp_test_lock(&lock_) != 0; }

private:
    omp_lock_t lock_;
};

}  // namespace zt
