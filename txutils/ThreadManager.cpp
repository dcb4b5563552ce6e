#include "txutils/ThreadManager.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "txutils/Format.h"
#include "txutils/Processors.h"
#include "txutils/SpinLock.h"
#include "zt/cat.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

namespace TxUtils {

struct WorkerThreadManager::Worker {
    Worker(const Shared* owner, int index, int count) : owner(owner), index(index), count(count) {}
    const Shared* owner;  // identity only: which manager this worker belongs to
    const int index;
    const int count;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    // run() and terminateThreads() may both come to join a worker; whoever
    // takes this first joins (or detaches) it, the other finds it done.
    std::mutex joinMutex;
    std::thread thread;

    void join() {
        std::lock_guard<std::mutex> lock(joinMutex);
        if (thread.joinable()) thread.join();
    }
    void detach() {
        std::lock_guard<std::mutex> lock(joinMutex);
        if (thread.joinable()) thread.detach();
    }
};

// Everything a worker touches, co-owned by the manager and every running
// worker, so an abandoned worker never outlives what it uses.
struct WorkerThreadManager::Shared {
    SpinThenBlockMutex queueMutex;
    std::condition_variable_any queueReady;
    std::deque<Task> queue;

    mutable std::mutex workersMutex;
    std::vector<std::shared_ptr<Worker>> workers;

    std::mutex doneMutex;
    std::condition_variable done;

    std::atomic<int> lowPriority{0};
    std::atomic<int> processorBinding{0};
    std::atomic<int64_t> stopTimeoutMs{kStopTimeout.count()};
};

namespace {

void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// Best effort: a refused priority change leaves the worker at normal priority.
void lowerPriority() {
    const id_t self = id_t(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, self);
    if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(current + WorkerThreadManager::kLowPriorityNice, 19));
}

// Binds the calling worker to the index-th processor the process may use.
void bindToProcessor(int index) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    const int usable = CPU_COUNT(&allowed);
    if (usable <= 0) return;
    int wanted = index % usable;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed) || wanted-- > 0) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        return;
    }
}

}  // namespace

WorkerThreadManager::Worker*& WorkerThreadManager::current() {
    thread_local Worker* worker = nullptr;
    return worker;
}

WorkerThreadManager::Worker* WorkerThreadManager::ownWorker() const {
    Worker* worker = current();
    return worker && worker->owner == shared_.get() ? worker : nullptr;
}

WorkerThreadManager::WorkerThreadManager() : shared_(std::make_shared<Shared>()) {
    print("[WinThreadManager] Constructor.\n");
}

WorkerThreadManager::~WorkerThreadManager() {
    if (workerCount() > 0) terminateThreads(true);
    print("[WinThreadManager] Destructor.\n");
}

void WorkerThreadManager::workerMain(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker, Job job,
                                     std::shared_ptr<zt::parallel_errors> errors) {
    current() = worker.get();
    if (shared->lowPriority.load() > 0) lowerPriority();
    if (shared->processorBinding.load() > 0) bindToProcessor(worker->index);
    if (errors) {
        errors->capture([&] { job(worker->index, worker->count); });
    } else {
        // Nobody waits for this run: its failure is told here or never.
        try {
            job(worker->index, worker->count);
        } catch (const std::exception& e) {
            print(format("[WinThreadManager] Thread %i failed: %s\n", worker->index, e.what()));
        } catch (...) {
            print(format("[WinThreadManager] Thread %i failed\n", worker->index));
        }
    }
    print(format("[WinThreadManager] Terminating thread %i\n", worker->index));
    print("[WinThreadManager] Thread is terminating\n");
    current() = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared->doneMutex);
        worker->ended = true;
    }
    shared->done.notify_all();
}

void WorkerThreadManager::requestStop(Worker& worker) {
    {
        // Under the queue lock, so a worker about to wait in takeTask sees it.
        std::lock_guard<SpinThenBlockMutex> lock(shared_->queueMutex);
        worker.stop = true;
    }
    shared_->queueReady.notify_all();
}

void WorkerThreadManager::release(const std::shared_ptr<Worker>& worker) {
    std::lock_guard<std::mutex> lock(shared_->workersMutex);
    auto& list = shared_->workers;
    list.erase(std::remove(list.begin(), list.end(), worker), list.end());
}

int WorkerThreadManager::run(int threadCount, Job job, Progress* progress, bool wait) {
    const int count = threadCount > 0 ? threadCount : processorCount();
    if (progress) progress->message(format("Setting up %i thread(s)\n", count));

    // Room first: once a thread runs, recording it must not fail.
    std::vector<std::shared_ptr<Worker>> started;
    started.reserve(size_t(count));
    {
        std::lock_guard<std::mutex> lock(shared_->workersMutex);
        shared_->workers.reserve(shared_->workers.size() + size_t(count));
    }
    // The failures of this run only, for this call to rethrow.
    const auto errors = wait ? std::make_shared<zt::parallel_errors>() : nullptr;
    std::string refusal;
    for (int index = 0; index < count; ++index) {
        auto worker = std::make_shared<Worker>(shared_.get(), index, count);
        try {
            worker->thread = std::thread(workerMain, shared_, worker, job, errors);
        } catch (const std::exception& error) {
            refusal = error.what();
            break;
        }
        {
            std::lock_guard<std::mutex> lock(shared_->workersMutex);
            shared_->workers.push_back(worker);
        }
        started.push_back(std::move(worker));
    }
    if (!refusal.empty()) {
        for (auto& worker : started) {
            requestStop(*worker);
            worker->join();
            release(worker);
        }
        throw ztx::base(zt::cat("Cannot start worker thread: ", refusal));
    }
    if (!wait) return count;

    auto allEnded = [&] {
        return std::all_of(started.begin(), started.end(), [](const auto& w) { return w->ended.load(); });
    };
    {
        std::unique_lock<std::mutex> lock(shared_->doneMutex);
        while (!shared_->done.wait_for(lock, kWaitSlice, allEnded)) {
            if (!progress) continue;
            lock.unlock();
            progress->idle();
            lock.lock();
        }
    }
    for (auto& worker : started) {
        worker->join();
        release(worker);
    }
    if (progress) progress->message("Threads completed\n");
    // Every worker of the run has ended (seen under doneMutex): no lock needed.
    errors->rethrow();
    return count;
}

void WorkerThreadManager::terminateThreads(bool force) {
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard<std::mutex> lock(shared_->workersMutex);
        workers = shared_->workers;
    }
    print(format("[WinThreadManager] Terminating %i threads\n", int(workers.size())));
    const auto timeout = std::chrono::milliseconds(shared_->stopTimeoutMs.load());
    for (auto& worker : workers) {
        print("[WinThreadManager] Waiting for TGL thread to finish...\n");
        requestStop(*worker);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!worker->ended && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kStopPoll);
        if (worker->ended) {
            worker->join();
            release(worker);
            continue;
        }
        print("[WinThreadManager] Thread did not terminate for the timeout interval\n");
        if (force) {
            worker->detach();
            release(worker);
        }
    }
    print("[WinThreadManager] All threads terminated\n");
}

void WorkerThreadManager::setLowPriority(int flag) { shared_->lowPriority = flag; }
void WorkerThreadManager::setProcessorBinding(int flag) { shared_->processorBinding = flag; }
int WorkerThreadManager::lowPriority() const { return shared_->lowPriority; }
int WorkerThreadManager::processorBinding() const { return shared_->processorBinding; }

void WorkerThreadManager::setStopTimeout(std::chrono::milliseconds timeout) {
    shared_->stopTimeoutMs = timeout.count();
}

int WorkerThreadManager::currentThreadIndex() const {
    const Worker* worker = ownWorker();
    return worker ? worker->index : -1;
}

int WorkerThreadManager::workerCount() const {
    std::lock_guard<std::mutex> lock(shared_->workersMutex);
    return int(shared_->workers.size());
}

void WorkerThreadManager::post(Task task) {
    {
        std::lock_guard<SpinThenBlockMutex> lock(shared_->queueMutex);
        shared_->queue.push_back(std::move(task));
    }
    shared_->queueReady.notify_one();
}

Task WorkerThreadManager::takeTask() {
    Worker* self = ownWorker();
    std::unique_lock<SpinThenBlockMutex> lock(shared_->queueMutex);
    if (self) shared_->queueReady.wait(lock, [&] { return self->stop || !shared_->queue.empty(); });
    if ((self && self->stop) || shared_->queue.empty()) return Task();
    Task task = std::move(shared_->queue.front());
    shared_->queue.pop_front();
    return task;
}

bool WorkerThreadManager::stopRequested() const {
    const Worker* worker = ownWorker();
    return worker && worker->stop;
}

}  // namespace TxUtils
