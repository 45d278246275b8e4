#pragma once
// The plug-in's asynchronous work: every entry point that answers later
// runs its work here, on a fixed number of threads, so that a slow request
// never holds up the host's thread and a burst of requests queues instead
// of starting a thread each.
//
// The group is owned by the extension (and shared with its enumerators).
// shutdown() asks every task to stop, queued ones included, and waits for
// all of them: the host unloads the plug-in's code after deleting the
// extension, so no task may outlive it. Tasks see the request through their
// stop token (which ends any drive request at once) and still make their
// final answer; a task still queued then runs on the thread that shuts down,
// its stop already requested, so that it answers as cancelled.
//
// Work that a task hands on and waits for (the second request of a folder
// listing) goes to pool(), whose runOrWait() runs it on the waiting thread
// when no thread is free: a task never waits for one that cannot start.
//
// Threads: every member may be called from any thread, tasks included.
// mutex_ guards tasks_ and shutDown_; it is never held while a task runs or
// while waiting for one. Lock order: mutex_ before the pool's own locks
// (start() queues under mutex_); the pool never calls back.

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <stop_token>

#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"

namespace cadrio {

class TaskGroup {
public:
    using Work = std::function<void(std::stop_token)>;

    /// Threads of the extension's group: requests wait mostly on the network.
    static constexpr std::size_t kDefaultThreads = 6;

    explicit TaskGroup(std::size_t threads = kDefaultThreads);
    /// shutdown().
    ~TaskGroup();
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    /// Queues `work` and returns at once; tasks start in the order queued.
    /// The returned source cancels this task alone, whether it is queued or
    /// running. After shutdown() the work runs at once on the caller's
    /// thread with its stop already requested, so that it still gives its
    /// answer (a cancellation) instead of none. `work` must not throw;
    /// whatever escapes it is dropped.
    std::stop_source start(Work work) CADRIO_EXCLUDES(mutex_);

    /// Stops every task and waits for them, running those still queued on
    /// the calling thread. Called from inside a task, it waits for all the
    /// others and lets the calling one finish on its own. Idempotent.
    void shutdown() CADRIO_EXCLUDES(mutex_);

    /// Tasks started and not yet finished, queued ones included.
    std::size_t running() const CADRIO_EXCLUDES(mutex_);

    WorkPool& pool() noexcept { return pool_; }

private:
    struct Task {
        std::stop_source stop;
        std::shared_ptr<WorkPool::Ticket> ticket;
    };

    WorkPool pool_;
    mutable Mutex mutex_;
    std::list<Task> tasks_ CADRIO_GUARDED_BY(mutex_);
    bool shutDown_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio
