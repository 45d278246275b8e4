#pragma once
// Ends a connection on which nothing has arrived for too long: when
// `touch()` has not been called for `timeout` of the injected clock, the
// watchdog requests stop on the connection's stop source, which makes the
// transport abandon the exchange at once.
//
// Threads: the watchdog sleeps on the clock in a thread of its own, started
// by the constructor and stopped and joined by the destructor (which
// returns at once: the sleep ends on the stop request). touch() and fired()
// may be called from any thread. `mutex_` guards `deadline_` only and is
// never held across the clock's sleep.

#include <atomic>
#include <mutex>
#include <stop_token>
#include <thread>

#include "core/support/clock.hpp"

namespace cadrio {

class IdleWatchdog {
public:
    /// The clock must outlive the watchdog; the first deadline is `timeout`
    /// from now.
    IdleWatchdog(Clock& clock, Clock::Duration timeout, std::stop_source target);
    ~IdleWatchdog();
    IdleWatchdog(const IdleWatchdog&) = delete;
    IdleWatchdog& operator=(const IdleWatchdog&) = delete;

    /// Something arrived: the deadline moves to `timeout` from now.
    void touch();

    /// True once the deadline passed and stop was requested on the target.
    bool fired() const noexcept { return fired_.load(); }

private:
    void watch(std::stop_token stop);

    Clock& clock_;
    const Clock::Duration timeout_;
    std::stop_source target_;
    std::mutex mutex_;
    Clock::TimePoint deadline_;  // guarded by mutex_
    std::atomic<bool> fired_{false};
    std::jthread thread_;  // last, so that it starts after the fields above
};

}  // namespace cadrio
