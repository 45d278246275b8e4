#pragma once

// The serial executor of the model's tests: nothing runs until the test
// says so, and time moves only when the test advances the virtual clock.
// Used as the background executor too, blocking work then runs on the test
// thread in posting order, so a test sees every step in a fixed order.
//
//   ManualExecutor main(clock);
//   model->signIn(...);      // queues work
//   main.runReady();         // runs it, and what it queued in turn
//   main.advance(500ms);     // fires the timers due on the way, in order
//
// Threads: post, postAfter and cancel from any thread (a stream thread posts
// here); the other members from the test thread only. Header-only; never
// linked into the programs.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/model/executor.hpp"
#include "app/model/timer_queue.hpp"
#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::app::testing {

// mutex_ guards the queue and the timers; a job runs, and
// a dropped job is destroyed, with no lock held (either may post again).
class ManualExecutor final : public SerialExecutor {
public:
    explicit ManualExecutor(VirtualClock& clock) : clock_(clock) {}

    ~ManualExecutor() override {
        // Closures may post while they are destroyed (a joined thread's last
        // words), so they are taken out and dropped until none is left.
        for (;;) {
            std::deque<Job> jobs;
            std::vector<Job> timers;
            {
                LockGuard lock(mutex_);
                if (queue_.empty() && timers_.empty()) return;
                jobs.swap(queue_);
                timers = timers_.takeAll();
            }
        }
    }

    void post(Job job) override {
        {
            LockGuard lock(mutex_);
            queue_.push_back(std::move(job));
        }
        posted_.notify_all();
    }

    TimerId postAfter(Clock::Duration delay, Job job) override {
        LockGuard lock(mutex_);
        return timers_.add(clock_.now() + delay, std::move(job));
    }

    void cancel(TimerId timer) override {
        Job dropped;  // dies after the lock is released (declared before it)
        LockGuard lock(mutex_);
        dropped = timers_.remove(timer);
    }

    Clock& clock() const override { return clock_; }

    /// Runs queued jobs and due timers, including those they queue, until
    /// none is left; returns how many ran.
    std::size_t runReady() {
        std::size_t ran = 0;
        while (std::optional<Job> job = takeReady()) {
            (*job)();
            ++ran;
        }
        return ran;
    }

    /// Moves the clock forward by `d` in steps, stopping at each timer
    /// deadline on the way to run it and what it queued (runReady).
    void advance(Clock::Duration d) {
        const Clock::TimePoint target = clock_.now() + d;
        runReady();
        for (;;) {
            std::optional<Clock::TimePoint> next = nextDeadline();
            if (!next || *next > target) break;
            if (*next > clock_.now()) clock_.advance(*next - clock_.now());
            runReady();
        }
        if (target > clock_.now()) clock_.advance(target - clock_.now());
        runReady();
    }

    /// Runs what arrives (from other threads too) until `done()` holds;
    /// false when `safety` of REAL time passed first.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds safety = std::chrono::seconds(10)) {
        const auto giveUp = std::chrono::steady_clock::now() + safety;
        for (;;) {
            runReady();
            if (done()) return true;
            UniqueLock lock(mutex_);
            while (queue_.empty()) {
                if (posted_.wait_until(lock, giveUp) == std::cv_status::timeout && queue_.empty()) {
                    return false;
                }
            }
        }
    }

    /// Timers not yet fired nor cancelled.
    std::size_t pendingTimers() const {
        LockGuard lock(mutex_);
        return timers_.size();
    }

private:
    std::optional<Job> takeReady() {
        LockGuard lock(mutex_);
        if (!queue_.empty()) {
            Job job = std::move(queue_.front());
            queue_.pop_front();
            return job;
        }
        if (auto due = timers_.popDue(clock_.now())) return std::move(due->second);
        return std::nullopt;
    }

    std::optional<Clock::TimePoint> nextDeadline() const {
        LockGuard lock(mutex_);
        return timers_.nextDeadline();
    }

    VirtualClock& clock_;
    mutable Mutex mutex_;
    std::condition_variable_any posted_;
    std::deque<Job> queue_ CADRIO_GUARDED_BY(mutex_);
    TimerQueue timers_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::app::testing
