#pragma once
// The processor count of the worker-thread manager, fixed before main() runs.

namespace TxUtils {

// TESSIX_NUM_THREADS converted like atoi; when unset or not positive, the
// number of logical processors (1 when the system cannot tell).
int computeProcessorCount();

// The value computed once at process start.
int processorCount();

// Logical processors as the system reports them (at least 1).
int logicalProcessors();

}  // namespace TxUtils
