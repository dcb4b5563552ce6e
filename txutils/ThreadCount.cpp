#include "cb/ThreadCount.h"

#include <omp.h>

#include <algorithm>
#include <atomic>

namespace Cb {

namespace {
std::atomic<int> g_libraryThreadCount{1};
}

int libraryThreadCount() { return g_libraryThreadCount.load(std::memory_order_relaxed); }

int applyLibraryThreadCount(int n) {
    n = std::clamp(n, kMinThreadCount, kMaxThreadCount);
    g_libraryThreadCount.store(n, std::memory_order_relaxed);
    omp_set_num_threads(n);
    return n;
}

int threadSlots() { return std::max(libraryThreadCount(), omp_get_max_threads()); }

}  // namespace Cb
