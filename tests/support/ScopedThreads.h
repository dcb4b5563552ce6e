#pragma once
// The OpenMP team size for the length of a scope, restored afterwards.

#include <omp.h>

namespace testsupport {

class ScopedThreads {
public:
    explicit ScopedThreads(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }
    ~ScopedThreads() { omp_set_num_threads(saved_); }
    ScopedThreads(const ScopedThreads&) = delete;
    ScopedThreads& operator=(const ScopedThreads&) = delete;

private:
    int saved_;
};

}  // namespace testsupport
