#pragma once
// The OpenMP team size, or the library thread count, for the length of a
// scope, restored afterwards.

#include <omp.h>

#include "cb/ThreadCount.h"

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

// Applying a library thread count also sets the OpenMP default: both come back.
class ScopedLibraryThreads {
public:
    explicit ScopedLibraryThreads(int n) : savedCount_(Cb::libraryThreadCount()), savedTeam_(omp_get_max_threads()) {
        Cb::applyLibraryThreadCount(n);
    }
    ~ScopedLibraryThreads() {
        Cb::applyLibraryThreadCount(savedCount_);
        omp_set_num_threads(savedTeam_);
    }
    ScopedLibraryThreads(const ScopedLibraryThreads&) = delete;
    ScopedLibraryThreads& operator=(const ScopedLibraryThreads&) = delete;

private:
    int savedCount_;
    int savedTeam_;
};

}  // namespace testsupport
