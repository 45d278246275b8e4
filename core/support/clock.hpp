#pragma once

// Time source for every wait in the project: back-off, debounce, reconnection
// schedules, periodic ticks, and for every reading of the calendar time
// (upload dates, expiry instants). Production code takes a Clock& and tests
// hand it a VirtualClock, so no test ever sleeps through a real delay or
// depends on today's date.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

namespace cadrio {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;

    using WallTime = std::chrono::system_clock::time_point;

    // Monotonic time; only differences between two readings mean anything.
    virtual TimePoint now() const = 0;

    // Calendar time, for what is stored or shown as a date. It may jump (the
    // user sets the clock); never measure a delay with it.
    virtual WallTime wallNow() const = 0;

    // Blocks the calling thread for `d`. Returns true when `d` has elapsed and
    // false when `stop` was requested first; a stop requested before or during
    // the wait ends it at once. A zero or negative `d` returns at once.
    // Thread-safe: any number of threads may sleep on one clock.
    virtual bool sleepFor(Duration d, std::stop_token stop) = 0;

    // sleepFor up to an absolute point of this clock's time.
    bool sleepUntil(TimePoint deadline, std::stop_token stop) {
        return sleepFor(deadline - now(), std::move(stop));
    }
};

// The real monotonic clock. Sleeps park the thread on a condition variable
// woken by the stop token; there is no polling. Stateless, hence thread-safe.
class SystemClock final : public Clock {
public:
    // Process-wide instance for code that is not handed a clock of its own.
    static SystemClock& shared();

    TimePoint now() const override;
    WallTime wallNow() const override;
    bool sleepFor(Duration d, std::stop_token stop) override;
};

// A clock for tests whose time moves only when the test says so.
//
// Sleepers park until advance() carries virtual time past their deadline, or
// until their stop token fires. In auto-advance mode a sleep instead moves
// virtual time forward by its own length and returns at once, which suits
// single-threaded retry loops. Every requested duration is recorded, in
// request order, including sleeps that were stopped early. Its calendar time
// starts at `wallStart` and moves with advance() and auto-advanced sleeps;
// setWallTime() jumps it without touching the monotonic time.
//
// Thread-safety: all members may be called from any thread. mutex_ guards
// now_, wallOffset_, deadlines_, autoAdvance_ and recorded_; changed_ is
// signalled under it whenever time moves or the set of sleepers changes.
class VirtualClock final : public Clock {
public:
    // Starts well away from the steady clock's epoch so that code subtracting
    // durations from now() never underflows.
    explicit VirtualClock(TimePoint start = TimePoint{} + std::chrono::hours(24),
                          WallTime wallStart = kDefaultWallStart);

    // 2024-03-05 14:07:00 UTC: a fixed, ordinary day.
    static constexpr WallTime kDefaultWallStart{std::chrono::seconds(1709647620)};

    TimePoint now() const override;
    WallTime wallNow() const override;
    bool sleepFor(Duration d, std::stop_token stop) override;

    // Sets the calendar time; the monotonic time and the sleepers are left alone.
    void setWallTime(WallTime wall);

    // Moves virtual time forward (a negative value is ignored) and wakes every
    // sleeper whose deadline has been reached.
    void advance(Duration d);

    // While on, sleeps move time forward by themselves and never block.
    void setAutoAdvance(bool on);

    // Threads parked in sleepFor whose deadline has not been reached yet; a
    // sleeper stops counting as soon as advance() reaches its deadline.
    std::size_t sleepers() const;

    // Earliest deadline among the parked sleepers, if any.
    std::optional<TimePoint> nextDeadline() const;

    // Blocks the test until at least `count` threads are parked. The wait is
    // bounded by `safety` of REAL time so that a bug fails the test instead of
    // hanging it; returns false when that bound was hit.
    bool waitForSleepers(std::size_t count,
                         std::chrono::milliseconds safety = std::chrono::seconds(10)) const;

    // Every duration passed to sleepFor so far, oldest first.
    std::vector<Duration> recordedSleeps() const;

private:
    void moveForwardLocked(Duration d);  // caller holds mutex_

    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    TimePoint now_;
    WallTime::duration wallOffset_;  // wall time = now_ + wallOffset_, in epoch terms
    std::multiset<TimePoint> deadlines_;
    bool autoAdvance_ = false;
    std::vector<Duration> recorded_;
};

}  // namespace cadrio
