// The worker-thread manager: jobs on several workers with their indices and
// messages, failures, the task queue (and its lock) under contention, and
// cooperative stopping with its messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "txutils/Processors.h"
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

const std::string kMade = "[WinThreadManager] Constructor.\n", kGone = "[WinThreadManager] Destructor.\n";
const std::string kAllEnded = "[WinThreadManager] All threads terminated\n";
const std::string kWaiting = "[WinThreadManager] Waiting for TGL thread to finish...\n";
std::string ended(int i) {
    return "[WinThreadManager] Terminating thread " + std::to_string(i) +
           "\n[WinThreadManager] Thread is terminating\n";
}

}  // namespace

TEST(ThreadManager, RunsTheJobOnEveryWorkerWithItsIndexMessagesAndFailure) {
    testsupport::CaptureStderr capture;
    std::array<std::atomic<int>, 4> seen{};  // the count each index saw, -1 for a wrong index
    RecordingProgress progress;
    {
        WorkerThreadManager manager, other;
        EXPECT_EQ(-1, manager.currentThreadIndex());
        const auto job = [&](int index, int count) {
            const bool own = manager.currentThreadIndex() == index && other.currentThreadIndex() == -1;
            seen.at(size_t(index)) = own && !other.stopRequested() ? count : -1;
        };
        EXPECT_EQ(4, manager.run(4, job, &progress));
        EXPECT_EQ(0, manager.workerCount());
        for (const auto& count : seen) EXPECT_EQ(4, count.load());
        EXPECT_EQ((std::vector<std::string>{"Setting up 4 thread(s)\n", "Threads completed\n"}), progress.messages);
        std::atomic<int> ran{0};
        EXPECT_EQ(TxUtils::processorCount(), manager.run(0, [&](int, int) { ++ran; }));
        EXPECT_EQ(TxUtils::processorCount(), ran.load());
        // A failure comes back once every worker has ended, and only once.
        EXPECT_EQ("worker 1 failed", testsupport::messageOf([&] {
                      manager.run(3, [&](int index, int) {
                          if (index == 1) throw std::runtime_error("worker 1 failed");
                          ++ran;
                      });
                  }));
        EXPECT_EQ(TxUtils::processorCount() + 2, ran.load());
        EXPECT_EQ(1, manager.run(1, [](int, int) {}));
    }
    const std::string out = capture.finish();
    // Workers that end together interleave their two lines.
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(std::string::npos, out.find("[WinThreadManager] Terminating thread " + std::to_string(i) + "\n"))
            << out;
    EXPECT_NE(std::string::npos, out.find("[WinThreadManager] Thread is terminating\n")) << out;
    EXPECT_TRUE(out.starts_with(kMade + kMade) && out.ends_with(kGone + kGone)) << out;
}

TEST(ThreadManager, QueueServersRunEveryTaskOnceAndStopInOrder) {
    testsupport::CaptureStderr capture;
    constexpr int kProducers = 3, kTasks = 3000;
    std::vector<std::atomic<int>> runs(kProducers * kTasks);
    std::atomic<int> total{0};
    {
        WorkerThreadManager manager;
        // Off the workers, takeTask never waits and keeps the posting order.
        int order = 0;
        manager.post([&] { order = order * 10 + 1; });
        manager.post([&] { order = order * 10 + 2; });
        while (TxUtils::Task task = manager.takeTask()) task();
        EXPECT_EQ(12, order);
        const auto server = [&manager](int, int) {
            while (TxUtils::Task task = manager.takeTask()) task();
        };
        EXPECT_EQ(3, manager.run(3, server, nullptr, false));
        EXPECT_EQ(3, manager.workerCount());
        std::vector<std::thread> producers;
        for (int p = 0; p < kProducers; ++p)
            producers.emplace_back([&, p] {
                for (int i = 0; i < kTasks; ++i)
                    manager.post([&, slot = p * kTasks + i] { ++runs[size_t(slot)], ++total; });
            });
        for (auto& producer : producers) producer.join();
        waitUntil([&] { return total.load() == kProducers * kTasks; });
        manager.terminateThreads(false);
        EXPECT_EQ(0, manager.workerCount());
    }
    for (const auto& count : runs) ASSERT_EQ(1, count.load());
    std::string expected = kMade + "[WinThreadManager] Terminating 3 threads\n";
    for (int i = 0; i < 3; ++i) expected += kWaiting + ended(i);
    EXPECT_EQ(expected + kAllEnded + kGone, capture.finish());
}

// What a capture of standard error holds so far, read in place: the capture's
// file is standard error itself.
std::string capturedStderr() {
    std::string text;
    char buffer[4096];
    off_t at = 0;
    for (ssize_t n; (n = ::pread(2, buffer, sizeof buffer, at)) > 0; at += n) text.append(buffer, size_t(n));
    return text;
}

// Without force, a worker that ignores the stop is reported and kept for a
// later call; with force it is abandoned safely: detached, it outlives its
// manager and runs to the end of its job, releasing what it holds.
TEST(ThreadManager, AWorkerThatIgnoresTheStopIsKeptOrAbandoned) {
    const std::string timedOut = "[WinThreadManager] Terminating 1 threads\n" + kWaiting +
                                 "[WinThreadManager] Thread did not terminate for the timeout interval\n" + kAllEnded;
    std::atomic<bool> release{false}, stopSeen{false};
    testsupport::CaptureStderr kept;
    {
        WorkerThreadManager manager;
        manager.setStopTimeout(std::chrono::milliseconds(20));
        manager.run(1, [&](int, int) { waitUntil([&] { return release.load(); }); }, nullptr, false);
        manager.terminateThreads(false);
        EXPECT_EQ(1, manager.workerCount());
        release = true;
        // Released, the worker says it ends on its own time: let it, so that
        // the lines come in one order.
        waitUntil([] { return capturedStderr().find(ended(0)) != std::string::npos; });
        manager.setStopTimeout(WorkerThreadManager::kStopTimeout);
        manager.terminateThreads(false);
        EXPECT_EQ(0, manager.workerCount());
    }
    EXPECT_EQ(kMade + timedOut + ended(0) + "[WinThreadManager] Terminating 1 threads\n" + kWaiting + kAllEnded + kGone,
              kept.finish());

    release = false;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> alive = token;
    testsupport::CaptureStderr abandoned;
    {
        WorkerThreadManager manager;
        manager.setStopTimeout(std::chrono::milliseconds(20));
        const auto job = [&manager, token = std::move(token), &release, &stopSeen](int, int) {
            waitUntil([&] { return manager.stopRequested(); });  // the last touch of the manager
            stopSeen = true;
            waitUntil([&] { return release.load(); });
        };
        manager.run(1, job, nullptr, false);
        manager.terminateThreads(true);
        EXPECT_EQ(0, manager.workerCount());
        waitUntil([&] { return stopSeen.load(); });
    }
    EXPECT_FALSE(alive.expired());
    release = true;
    waitUntil([&] { return alive.expired(); });
    EXPECT_EQ(kMade + timedOut + kGone + ended(0), abandoned.finish());
}

// Whoever stops the workers while run() waits for them, each worker is joined
// once and run() returns as usual.
TEST(ThreadManager, TerminatingWhileRunWaitsJoinsEachWorkerOnce) {
    struct TerminatingProgress : TxUtils::Progress {
        WorkerThreadManager* manager = nullptr;
        int terminations = 0;
        void message(const std::string&) override {}
        void idle() override {
            if (terminations++ == 0) manager->terminateThreads(false);
        }
    };
    testsupport::CaptureStderr quiet;
    WorkerThreadManager manager;
    const auto untilStopped = [&manager](int, int) { waitUntil([&] { return manager.stopRequested(); }); };
    TerminatingProgress progress;
    progress.manager = &manager;
    EXPECT_EQ("(no failure)", testsupport::messageOf([&] { manager.run(2, untilStopped, &progress); }));
    EXPECT_GT(progress.terminations, 0);
    EXPECT_EQ(0, manager.workerCount());

    for (int attempt = 0; attempt < 3; ++attempt) {
        std::thread stopper([&] {
            waitUntil([&] { return manager.workerCount() == 2; });
            manager.terminateThreads(false);
        });
        EXPECT_EQ("(no failure)", testsupport::messageOf([&] { manager.run(2, untilStopped); }));
        stopper.join();
        EXPECT_EQ(0, manager.workerCount());
    }
}

TEST(ThreadManager, EachRunReportsOnlyItsOwnFailures) {
    testsupport::CaptureStderr capture;
    {
        WorkerThreadManager manager;
        std::atomic<bool> thrown{false};
        manager.run(
            1,
            [&](int, int) {
                thrown = true;
                throw std::runtime_error("background job failed");
            },
            nullptr, false);
        waitUntil([&] { return thrown.load(); });
        // An unrelated run that waits does not inherit the failure.
        EXPECT_EQ("(no failure)", testsupport::messageOf([&] { manager.run(2, [](int, int) {}); }));
        manager.terminateThreads(false);

        // Two waiting runs at once: the failure goes to the run whose job failed.
        std::atomic<int> started{0};
        const auto meet = [&] {
            ++started;
            waitUntil([&] { return started.load() == 4; });
        };
        std::string other;
        std::thread second([&] { other = testsupport::messageOf([&] { manager.run(2, [&](int, int) { meet(); }); }); });
        EXPECT_EQ("worker failed", testsupport::messageOf([&] {
                      manager.run(2, [&](int index, int) {
                          meet();
                          if (index == 1) throw std::runtime_error("worker failed");
                      });
                  }));
        second.join();
        EXPECT_EQ("(no failure)", other);
    }
    EXPECT_NE(std::string::npos, capture.finish().find("[WinThreadManager] Thread 0 failed: background job failed\n"));
}
