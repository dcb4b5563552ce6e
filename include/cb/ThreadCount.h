#pragma once
// The library thread count: the number of workers the simulation library
// uses. 1 until a body's thread-count value applies another.

namespace Cb {

// Bounds for an applied thread count: a value from a file must never make the
// process start an unbounded number of threads.
constexpr int kMinThreadCount = 1;
constexpr int kMaxThreadCount = 256;

int libraryThreadCount();

// Stores n, clamped to [kMinThreadCount, kMaxThreadCount], and hands it to the
// OpenMP runtime. Returns the count applied.
int applyLibraryThreadCount(int n);

// Slots a per-thread table needs so that every OpenMP worker has its own:
// the larger of the library count and the runtime's team size.
int threadSlots();

}  // namespace Cb
