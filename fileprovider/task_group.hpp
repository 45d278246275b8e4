#pragma once
// The plug-in's asynchronous work: every entry point that answers later
// runs its work here, one thread per task, so that a slow request never
// holds up the host's thread or another request.
//
// The group is owned by the extension (and shared with its enumerators).
// shutdown() asks every running task to stop and waits for all of them: the
// host unloads the plug-in's code after deleting the extension, so no task
// may outlive it. Tasks see the request through their stop token (which
// ends any drive request at once) and still make their final answer.
//
// Threads: every member may be called from any thread. mutex_ guards tasks_
// and shutDown_; it is never held while a task runs or while joining.

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace cadrio {

class TaskGroup {
public:
    using Work = std::function<void(std::stop_token)>;

    TaskGroup() = default;
    /// shutdown().
    ~TaskGroup();
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    /// Runs `work` on a thread of its own and returns at once. The returned
    /// source cancels this task alone. After shutdown() the work runs at
    /// once on the caller's thread with its stop already requested, so that
    /// it still gives its answer (a cancellation) instead of none.
    /// `work` must not throw; whatever escapes it is dropped.
    std::stop_source start(Work work);

    /// Stops every task and waits for them. Called from inside a task, it
    /// waits for all the others and lets the calling one finish on its own.
    /// Idempotent.
    void shutdown();

    /// Tasks started and not yet finished.
    std::size_t running() const;

private:
    struct Task {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;  // set by the task's thread as its last step
    };

    void reapFinishedLocked(std::list<Task>& reaped);

    mutable std::mutex mutex_;
    std::list<Task> tasks_;  // guarded by mutex_
    bool shutDown_ = false;  // guarded by mutex_
};

}  // namespace cadrio
