#include "app/model/loop_executor.hpp"

#include <deque>
#include <optional>
#include <vector>

#include "app/model/timer_queue.hpp"

namespace cadrio::app {

struct LoopExecutor::State {
    Mutex mutex;
    std::deque<Job> queue CADRIO_GUARDED_BY(mutex);
    TimerQueue timers CADRIO_GUARDED_BY(mutex);
    bool stopped CADRIO_GUARDED_BY(mutex) = false;
    // Requested whenever the loop must look again; replaced before each wait.
    std::stop_source wake CADRIO_GUARDED_BY(mutex);
};

LoopExecutor::LoopExecutor(Clock& clock) : clock_(clock), state_(std::make_unique<State>()) {}

LoopExecutor::~LoopExecutor() {
    // A closure may post while it is destroyed, so the leftovers are taken
    // out and dropped with no lock held until none is left.
    for (;;) {
        std::deque<Job> jobs;
        std::vector<Job> timers;
        {
            LockGuard lock(state_->mutex);
            if (state_->queue.empty() && state_->timers.empty()) return;
            jobs.swap(state_->queue);
            timers = state_->timers.takeAll();
        }
    }
}

void LoopExecutor::post(Job job) {
    LockGuard lock(state_->mutex);
    state_->queue.push_back(std::move(job));
    state_->wake.request_stop();
}

SerialExecutor::TimerId LoopExecutor::postAfter(Clock::Duration delay, Job job) {
    const Clock::TimePoint deadline = clock_.now() + delay;
    LockGuard lock(state_->mutex);
    const TimerId id = state_->timers.add(deadline, std::move(job));
    state_->wake.request_stop();
    return id;
}

void LoopExecutor::cancel(TimerId timer) {
    Job dropped;  // destroyed after the lock is released
    LockGuard lock(state_->mutex);
    dropped = state_->timers.remove(timer);
    // No wake-up: a loop sleeping towards this deadline finds nothing due
    // and simply waits again.
}

void LoopExecutor::run(std::stop_token stop) {
    // A stop of the caller's token wakes the loop like a post does.
    const std::stop_callback onStop(stop, [this] { this->stop(); });
    for (;;) {
        std::optional<Job> job;
        std::optional<Clock::TimePoint> deadline;  // none: until a post
        std::stop_token interrupted;
        {
            LockGuard lock(state_->mutex);
            if (state_->stopped) return;
            const Clock::TimePoint now = clock_.now();
            if (!state_->queue.empty()) {
                job = std::move(state_->queue.front());
                state_->queue.pop_front();
            } else if (auto due = state_->timers.popDue(now)) {
                job = std::move(due->second);
            } else {
                deadline = state_->timers.nextDeadline();
                if (state_->wake.stop_requested()) state_->wake = std::stop_source();
                interrupted = state_->wake.get_token();
            }
        }
        if (job) {
            (*job)();
            job.reset();  // its closure dies before the next look, with no lock held
        } else if (deadline) {
            clock_.sleepUntil(*deadline, interrupted);
        } else {
            clock_.sleepFor(Clock::Duration::max(), interrupted);
        }
    }
}

void LoopExecutor::stop() {
    LockGuard lock(state_->mutex);
    state_->stopped = true;
    state_->wake.request_stop();
}

}  // namespace cadrio::app
