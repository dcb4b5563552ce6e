#pragma once
// The worker-thread manager of the utility library: runs a job on a set of
// worker threads, lets jobs share a task queue, and stops the workers on
// request. Nothing in the converter runs it.
//
// Messages keep their historical "[WinThreadManager]" prefix and go to
// standard error, one write per line.
//
// A thread cannot be killed safely, so stopping is cooperative: a stop request
// wakes a worker waiting in takeTask() (which then returns an empty task) and
// makes stopRequested() true; a job that runs on is expected to look.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zt {
class parallel_errors;
}

namespace TxUtils {

// Receives the manager's progress texts while run() waits; idle() is called
// between wait slices (where a desktop program would pump its messages).
class Progress {
public:
    virtual ~Progress() = default;
    virtual void message(const std::string& text) = 0;
    virtual void idle() {}
};

// Runs once on every worker with its index (0 .. count-1) and the worker count.
using Job = std::function<void(int index, int count)>;
// One unit of work of the shared queue.
using Task = std::function<void()>;

class ThreadManager {
public:
    virtual ~ThreadManager() = default;
    // Asks every worker to stop and waits for each in turn.
    virtual void terminateThreads(bool force) = 0;
    // Starts `threadCount` workers on `job` (0 or less: the processor count)
    // and, when `wait` is set, returns once all of them have ended. Returns the
    // number of workers started.
    virtual int run(int threadCount, Job job, Progress* progress = nullptr, bool wait = true) = 0;
    // Positive: workers started afterwards run below normal priority.
    virtual void setLowPriority(int flag) = 0;
    // Positive: each worker started afterwards is bound to one processor.
    virtual void setProcessorBinding(int flag) = 0;
    // The calling worker's index, or -1 on a thread that is not one of ours.
    virtual int currentThreadIndex() const = 0;
};

class WorkerThreadManager final : public ThreadManager {
public:
    static constexpr std::chrono::milliseconds kWaitSlice{200};
    static constexpr std::chrono::milliseconds kStopPoll{1};
    static constexpr std::chrono::milliseconds kStopTimeout{2000};
    // How much a low-priority worker raises its nice value.
    static constexpr int kLowPriorityNice = 5;

    // Prints "[WinThreadManager] Constructor.\n".
    WorkerThreadManager();
    // Terminates (forced) any workers left, then prints "[WinThreadManager] Destructor.\n".
    ~WorkerThreadManager() override;
    WorkerThreadManager(const WorkerThreadManager&) = delete;
    WorkerThreadManager& operator=(const WorkerThreadManager&) = delete;

    // Prints "[WinThreadManager] Terminating %i threads\n", then for each
    // worker "[WinThreadManager] Waiting for TGL thread to finish...\n", asks
    // it to stop and polls every kStopPoll for up to the stop timeout. A worker
    // that ends is joined and its record released. One that does not prints
    // "[WinThreadManager] Thread did not terminate for the timeout interval\n":
    // without `force` it stays listed (still asked to stop) for a later call;
    // with `force` it is detached and forgotten; it keeps the manager's shared
    // state alive and releases its own record when its job finally returns.
    // Ends with "[WinThreadManager] All threads terminated\n".
    void terminateThreads(bool force) override;

    // With a progress object: "Setting up %i thread(s)\n" first and "Threads
    // completed\n" once the workers have ended; idle() between 200 ms slices.
    // With `wait`, an exception of this call's job is rethrown here once all
    // its workers have ended (the first one, when several fail); other runs'
    // failures are never seen here. Without `wait`, a failing worker prints
    // "[WinThreadManager] Thread %i failed: <what>\n" as it ends. A worker
    // may also be joined by terminateThreads() (from the progress hook or
    // another thread) meanwhile. Throws "Cannot start worker thread: " +
    // reason when the system refuses a thread; the workers of this call that
    // did start are then stopped and joined first.
    int run(int threadCount, Job job, Progress* progress = nullptr, bool wait = true) override;

    void setLowPriority(int flag) override;
    void setProcessorBinding(int flag) override;
    int currentThreadIndex() const override;

    int lowPriority() const;
    int processorBinding() const;
    // Workers started and not yet released.
    int workerCount() const;
    // The stop timeout of terminateThreads (kStopTimeout by default).
    void setStopTimeout(std::chrono::milliseconds timeout);

    // Appends a task to the queue and wakes one waiting worker.
    void post(Task task);
    // On a worker: the next task, waiting while the queue is empty; an empty
    // task once the worker has been asked to stop. On any other thread: the
    // next task, or an empty one at once when the queue is empty.
    Task takeTask();
    // On a worker: true once it has been asked to stop. Elsewhere false.
    bool stopRequested() const;

private:
    struct Shared;
    struct Worker;

    // The calling thread's worker record (null off the workers of any manager).
    static Worker*& current();
    // The calling thread's record when it is a worker of this manager.
    Worker* ownWorker() const;
    static void workerMain(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker, Job job,
                           std::shared_ptr<zt::parallel_errors> errors);
    void requestStop(Worker& worker);
    void release(const std::shared_ptr<Worker>& worker);

    std::shared_ptr<Shared> shared_;
};

}  // namespace TxUtils
