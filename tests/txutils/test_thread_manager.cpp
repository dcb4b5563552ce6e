// The worker-thread manager: jobs on several workers, worker indices, the
// task queue, cooperative stopping with its messages, and the queue lock.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "txutils/Processors.h"
#include "txutils/SpinLock.h"
#include "txutils/ThreadManager.h"

using TxUtils::WorkerThreadManager;

namespace {

struct RecordingProgress : TxUtils::Progress {
    std::vector<std::string> messages;
    void message(const std::string& text) override { messages.push_back(text); }
};

// Waits (without a deadline: ctest's timeout is the guard) until `done` holds.
template <class Done>
void waitUntil(Done done) {
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A job that serves the task queue until its worker is asked to stop.
TxUtils::Job queueServer(WorkerThreadManager& manager) {
    return [&manager](int, int) {
        while (TxUtils::Task task = manager.takeTask()) task();
    };
}

}  // namespace

TEST(ThreadManager, RunsTheJobOnEveryWorkerWithItsIndex) {
    testsupport::CaptureStderr capture;
    std::mutex mutex;
    std::multiset<int> indices;
    std::vector<int> counts;
    std::atomic<int> mismatches{0};
    RecordingProgress progress;
    {
        WorkerThreadManager manager;
        EXPECT_EQ(-1, manager.currentThreadIndex());
        const int started = manager.run(
            4,
            [&](int index, int count) {
                if (manager.currentThreadIndex() != index) ++mismatches;
                std::lock_guard<std::mutex> lock(mutex);
                indices.insert(index);
                counts.push_back(count);
            },
            &progress);
        EXPECT_EQ(4, started);
        EXPECT_EQ(0, manager.workerCount());
        EXPECT_EQ(-1, manager.currentThreadIndex());
    }
    const std::string out = capture.finish();
    EXPECT_EQ((std::multiset<int>{0, 1, 2, 3}), indices);
    EXPECT_EQ((std::vector<int>{4, 4, 4, 4}), counts);
    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ((std::vector<std::string>{"Setting up 4 thread(s)\n", "Threads completed\n"}), progress.messages);
    // Each worker reports its end; the two lines of one worker come in order.
    for (int i = 0; i < 4; ++i) {
        const std::string line = "[WinThreadManager] Terminating thread " + std::to_string(i) + "\n";
        ASSERT_NE(std::string::npos, out.find(line)) << out;
        EXPECT_NE(std::string::npos, out.find("[WinThreadManager] Thread is terminating\n", out.find(line)));
    }
    EXPECT_EQ(0u, out.find("[WinThreadManager] Constructor.\n"));
    const std::string last = "[WinThreadManager] Destructor.\n";
    EXPECT_EQ(out.size() - last.size(), out.rfind(last));
}

TEST(ThreadManager, ZeroThreadsMeansTheProcessorCount) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager manager;
    std::atomic<int> ran{0};
    RecordingProgress progress;
    EXPECT_EQ(TxUtils::processorCount(), manager.run(0, [&](int, int) { ++ran; }, &progress));
    EXPECT_EQ(TxUtils::processorCount(), ran.load());
    EXPECT_EQ("Setting up " + std::to_string(TxUtils::processorCount()) + " thread(s)\n", progress.messages.at(0));
}

TEST(ThreadManager, IndicesBelongToTheirOwnManager) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager outer;
    WorkerThreadManager other;
    std::atomic<int> seenByOther{0};
    outer.run(2, [&](int, int) {
        if (other.currentThreadIndex() != -1) ++seenByOther;
        if (other.stopRequested()) ++seenByOther;
    });
    EXPECT_EQ(0, seenByOther.load());
}

TEST(ThreadManager, AJobFailureIsRethrownAfterAllWorkersEnd) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager manager;
    std::atomic<int> finished{0};
    EXPECT_EQ("worker 1 failed", testsupport::messageOf([&] {
                  manager.run(3, [&](int index, int) {
                      if (index == 1) throw std::runtime_error("worker 1 failed");
                      ++finished;
                  });
              }));
    EXPECT_EQ(2, finished.load());
    EXPECT_EQ(0, manager.workerCount());
    // The failure is reported once: the next run is clean.
    EXPECT_EQ(1, manager.run(1, [](int, int) {}));
}

TEST(ThreadManager, QueueServersStopOnRequestAndReportInOrder) {
    testsupport::CaptureStderr capture;
    std::atomic<int> done{0};
    {
        WorkerThreadManager manager;
        EXPECT_EQ(3, manager.run(3, queueServer(manager), nullptr, false));
        EXPECT_EQ(3, manager.workerCount());
        for (int i = 0; i < 200; ++i) manager.post([&] { ++done; });
        waitUntil([&] { return done.load() == 200; });
        manager.terminateThreads(false);
        EXPECT_EQ(0, manager.workerCount());
    }
    std::string expected = "[WinThreadManager] Constructor.\n[WinThreadManager] Terminating 3 threads\n";
    for (int i = 0; i < 3; ++i)
        expected += "[WinThreadManager] Waiting for TGL thread to finish...\n"
                    "[WinThreadManager] Terminating thread " +
                    std::to_string(i) +
                    "\n"
                    "[WinThreadManager] Thread is terminating\n";
    expected += "[WinThreadManager] All threads terminated\n[WinThreadManager] Destructor.\n";
    EXPECT_EQ(expected, capture.finish());
}

TEST(ThreadManager, TakeTaskOffTheWorkersNeverWaits) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager manager;
    EXPECT_FALSE(manager.takeTask());
    int order = 0;
    manager.post([&] { order = order * 10 + 1; });
    manager.post([&] { order = order * 10 + 2; });
    while (TxUtils::Task task = manager.takeTask()) task();
    EXPECT_EQ(12, order);
    EXPECT_FALSE(manager.stopRequested());
}

TEST(ThreadManager, AWorkerThatIgnoresTheStopIsReportedAndKept) {
    testsupport::CaptureStderr capture;
    std::atomic<bool> release{false};
    {
        WorkerThreadManager manager;
        manager.setStopTimeout(std::chrono::milliseconds(20));
        manager.run(1, [&](int, int) { waitUntil([&] { return release.load(); }); }, nullptr, false);
        manager.terminateThreads(false);
        EXPECT_EQ(1, manager.workerCount());
        release = true;
        manager.setStopTimeout(WorkerThreadManager::kStopTimeout);
        manager.terminateThreads(false);
        EXPECT_EQ(0, manager.workerCount());
    }
    EXPECT_EQ("[WinThreadManager] Constructor.\n"
              "[WinThreadManager] Terminating 1 threads\n"
              "[WinThreadManager] Waiting for TGL thread to finish...\n"
              "[WinThreadManager] Thread did not terminate for the timeout interval\n"
              "[WinThreadManager] All threads terminated\n"
              "[WinThreadManager] Terminating 1 threads\n"
              "[WinThreadManager] Waiting for TGL thread to finish...\n"
              "[WinThreadManager] Terminating thread 0\n"
              "[WinThreadManager] Thread is terminating\n"
              "[WinThreadManager] All threads terminated\n"
              "[WinThreadManager] Destructor.\n",
              capture.finish());
}

// A forced stop never kills: the worker is detached, outlives its manager and
// runs to the end of its job; its record and the state it shares with the
// manager go when it ends.
TEST(ThreadManager, AForcedStopAbandonsTheWorkerSafely) {
    testsupport::CaptureStderr capture;
    std::atomic<bool> release{false};
    std::atomic<bool> stopSeen{false};
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> alive = token;
    {
        WorkerThreadManager manager;
        manager.setStopTimeout(std::chrono::milliseconds(20));
        manager.run(
            1,
            [&manager, token = std::move(token), &release, &stopSeen](int, int) {
                // The manager is touched only until the stop request is seen.
                waitUntil([&] { return manager.stopRequested(); });
                stopSeen = true;
                waitUntil([&] { return release.load(); });
            },
            nullptr, false);
        manager.terminateThreads(true);
        EXPECT_EQ(0, manager.workerCount());
        waitUntil([&] { return stopSeen.load(); });
    }
    EXPECT_FALSE(alive.expired());
    release = true;
    waitUntil([&] { return alive.expired(); });
    EXPECT_EQ("[WinThreadManager] Constructor.\n"
              "[WinThreadManager] Terminating 1 threads\n"
              "[WinThreadManager] Waiting for TGL thread to finish...\n"
              "[WinThreadManager] Thread did not terminate for the timeout interval\n"
              "[WinThreadManager] All threads terminated\n"
              "[WinThreadManager] Destructor.\n"
              "[WinThreadManager] Terminating thread 0\n"
              "[WinThreadManager] Thread is terminating\n",
              capture.finish());
}

TEST(ThreadManager, FlagsApplyToWorkersStartedAfterwards) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager manager;
    EXPECT_EQ(0, manager.lowPriority());
    EXPECT_EQ(0, manager.processorBinding());
    const int mainNice = getpriority(PRIO_PROCESS, id_t(gettid()));
    std::atomic<int> workerNice{0};
    manager.setLowPriority(1);
    EXPECT_EQ(1, manager.lowPriority());
    manager.run(1, [&](int, int) { workerNice = getpriority(PRIO_PROCESS, id_t(gettid())); });
    if (mainNice < 19) {
        EXPECT_GT(workerNice.load(), mainNice);
    }
    EXPECT_EQ(mainNice, getpriority(PRIO_PROCESS, id_t(gettid())));  // only the worker changed

    cpu_set_t allowed;
    ASSERT_EQ(0, sched_getaffinity(0, sizeof allowed, &allowed));
    manager.setLowPriority(0);
    manager.setProcessorBinding(1);
    EXPECT_EQ(1, manager.processorBinding());
    std::atomic<int> bound{0};
    manager.run(2, [&](int, int) {
        cpu_set_t mine;
        if (sched_getaffinity(0, sizeof mine, &mine) == 0 && CPU_COUNT(&mine) == 1) ++bound;
    });
    EXPECT_EQ(2, bound.load());
}

TEST(SpinThenBlockMutex, ExcludesUnderContention) {
    TxUtils::SpinThenBlockMutex mutex;
    long counter = 0;  // deliberately not atomic
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                std::lock_guard<TxUtils::SpinThenBlockMutex> lock(mutex);
                ++counter;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(200000, counter);

    // A held lock refuses try_lock and makes lock() wait for the release.
    std::atomic<bool> acquired{false};
    mutex.lock();
    std::thread waiter([&] {
        EXPECT_FALSE(mutex.try_lock());
        mutex.lock();
        acquired = true;
        mutex.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(acquired.load());
    mutex.unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

TEST(ThreadManager, QueueUnderContentionRunsEveryTaskOnce) {
    testsupport::CaptureStderr capture;
    WorkerThreadManager manager;
    manager.run(3, queueServer(manager), nullptr, false);
    constexpr int kProducers = 3, kTasks = 3000;
    std::vector<std::atomic<int>> runs(kProducers * kTasks);
    std::atomic<int> total{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kTasks; ++i)
                manager.post([&, slot = p * kTasks + i] {
                    ++runs[size_t(slot)];
                    ++total;
                });
        });
    for (auto& producer : producers) producer.join();
    waitUntil([&] { return total.load() == kProducers * kTasks; });
    manager.terminateThreads(false);
    for (const auto& count : runs) ASSERT_EQ(1, count.load());
}
