#include "txutils/SpinLock.h"

#include <thread>

namespace TxUtils {

void SpinThenBlockMutex::lock() {
    for (int i = 0; i < kSpinTries; ++i)
        if (mutex_.try_lock()) return;
    for (int i = 0; i < kYieldTries; ++i) {
        if (mutex_.try_lock()) return;
        std::this_thread::yield();
    }
    mutex_.lock();
}

}  // namespace TxUtils
