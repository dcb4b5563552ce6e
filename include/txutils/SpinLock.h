#pragma once
// TxUtils::SpinThenBlockMutex: the job-queue lock. Short critical sections are
// the rule, so a taker first tries 1500 times, then 1500 times more yielding
// between tries, and only then blocks. Meets the Lockable requirements.

#include <mutex>

namespace TxUtils {

class SpinThenBlockMutex {
public:
    static constexpr int kSpinTries = 1500;
    static constexpr int kYieldTries = 1500;

    void lock();
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

}  // namespace TxUtils
