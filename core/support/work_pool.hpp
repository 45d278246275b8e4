#pragma once
// A fixed number of threads that run queued jobs, oldest first: a burst of
// requests waits in the queue instead of starting a thread each.
//
// A job that waits for another job it queued must not wait idly: with every
// thread busy waiting, the queued job would never start. runOrWait() lets
// the waiting thread run that job itself as long as no thread has taken it.
//
// close() (and the destructor) refuses new jobs, lets the threads finish
// the queue and joins them; a job submitted afterwards runs at once on the
// submitting thread. Called from a job (its last owner let go inside one),
// it joins the other threads and leaves the calling one to finish and end
// on its own: the threads share the queue with the pool, not the pool
// itself, so nothing they touch is gone.
//
// A job's closure is destroyed before the job counts as done, so whatever it
// holds is released by the time a waiter returns.
//
// Threads: every member may be called from any thread, jobs included.
// Queue::mutex guards the queue and the closed flag, threadsMutex_ the
// threads, each ticket's mutex that ticket. None is held while a job runs or
// while joining, and no two of them are ever held together.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/support/thread_annotations.hpp"

namespace cadrio {

class WorkPool {
  public:
    using Job = std::function<void()>;

    /// One submitted job, as its submitter follows it.
    class Ticket {
      public:
        /// The job has run and its closure is gone.
        bool isDone() const;

      private:
        friend class WorkPool;
        enum class Phase { queued, running, done };

        /// Takes the job if nobody has; the caller runs it, then finish().
        Job claim();
        void finish();

        mutable Mutex mutex_;
        std::condition_variable_any changed_;
        Job job_ CADRIO_GUARDED_BY(mutex_);
        Phase phase_ CADRIO_GUARDED_BY(mutex_) = Phase::queued;
        std::thread::id runner_ CADRIO_GUARDED_BY(mutex_);
    };

    /// Starts `threads` threads (at least one).
    explicit WorkPool(std::size_t threads);
    /// close().
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    /// Queues `job` for the next free thread. After close() it runs at once
    /// on the calling thread. Jobs must not throw; whatever escapes is
    /// dropped.
    std::shared_ptr<Ticket> submit(Job job);

    /// Runs the ticket's job on the calling thread when no thread has taken
    /// it yet, else waits until it is done. Returns at once when the calling
    /// thread is the one running it (a job cannot wait for itself).
    void runOrWait(const std::shared_ptr<Ticket>& ticket);

    /// Refuses new jobs, lets the threads finish the queue and joins them
    /// (all but the calling one). Idempotent.
    void close();

    std::size_t threadCount() const noexcept { return threadCount_; }

  private:
    struct Queue {
        Mutex mutex;
        std::condition_variable_any changed;
        std::deque<std::shared_ptr<Ticket>> tickets CADRIO_GUARDED_BY(mutex);
        bool closed CADRIO_GUARDED_BY(mutex) = false;
    };

    static void serve(const std::shared_ptr<Queue>& queue);
    static void run(Ticket& ticket);

    const std::size_t threadCount_;
    const std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
    Mutex threadsMutex_;
    std::vector<std::thread> threads_ CADRIO_GUARDED_BY(threadsMutex_);
};

}  // namespace cadrio
