#include "txutils/Processors.h"

#include <cstdlib>
#include <thread>

namespace TxUtils {

int logicalProcessors() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(n);
}

int computeProcessorCount() {
    if (const char* text = std::getenv("TESSIX_NUM_THREADS")) {
        int n = std::atoi(text);
        if (n > 0) return n;
    }
    return logicalProcessors();
}

namespace {
// Set by static initialisation, before main().
const int g_processorCount = computeProcessorCount();
}  // namespace

int processorCount() { return g_processorCount; }

}  // namespace TxUtils
