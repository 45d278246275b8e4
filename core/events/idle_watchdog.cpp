#include "core/events/idle_watchdog.hpp"

namespace cadrio {

IdleWatchdog::IdleWatchdog(Clock& clock, Clock::Duration timeout, std::stop_source target)
    : clock_(clock),
      timeout_(timeout),
      target_(std::move(target)),
      deadline_(clock.now() + timeout),
      thread_([this](std::stop_token stop) { watch(std::move(stop)); }) {}

IdleWatchdog::~IdleWatchdog() {
    thread_.request_stop();
    thread_.join();
}

void IdleWatchdog::touch() {
    const auto deadline = clock_.now() + timeout_;
    std::lock_guard lock(mutex_);
    deadline_ = deadline;
}

void IdleWatchdog::watch(std::stop_token stop) {
    for (;;) {
        Clock::TimePoint deadline;
        {
            std::lock_guard lock(mutex_);
            deadline = deadline_;
        }
        if (!clock_.sleepUntil(deadline, stop)) return;
        {
            // Data that arrived during the sleep moved the deadline on.
            std::lock_guard lock(mutex_);
            if (clock_.now() < deadline_) continue;
        }
        fired_ = true;
        target_.request_stop();
        return;
    }
}

}  // namespace cadrio
