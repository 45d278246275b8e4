#include "core/support/clock.hpp"

namespace cadrio {

namespace {

// now + d without overflowing: a caller may ask to sleep "forever" with a
// huge duration and rely on the stop token to end it.
Clock::TimePoint saturatingAdd(Clock::TimePoint t, Clock::Duration d) {
    if (d > Clock::TimePoint::max() - t) {
        return Clock::TimePoint::max();
    }
    return t + d;
}

}  // namespace

SystemClock& SystemClock::shared() {
    static SystemClock instance;
    return instance;
}

Clock::TimePoint SystemClock::now() const {
    return std::chrono::steady_clock::now();
}

Clock::WallTime SystemClock::wallNow() const {
    return std::chrono::system_clock::now();
}

bool SystemClock::sleepFor(Duration d, std::stop_token stop) {
    if (stop.stop_requested()) {
        return false;
    }
    if (d <= Duration::zero()) {
        return true;
    }
    // A private mutex and condition variable per sleep: nothing else ever
    // notifies them, only the stop callback installed by wait_until.
    std::mutex mutex;
    std::condition_variable_any wake;
    const auto deadline = saturatingAdd(now(), d);
    // Waits in slices of a day at most: the platform's timed wait converts
    // absolute times near the clock's maximum badly.
    constexpr auto slice = std::chrono::hours(24);
    std::unique_lock lock(mutex);
    for (;;) {
        const auto current = now();
        if (current >= deadline) {
            return true;
        }
        const auto sliceEnd = deadline - current > slice ? current + slice : deadline;
        wake.wait_until(lock, stop, sliceEnd,
                        [&] { return std::chrono::steady_clock::now() >= sliceEnd; });
        if (stop.stop_requested()) {
            return now() >= deadline;
        }
    }
}

VirtualClock::VirtualClock(TimePoint start, WallTime wallStart)
    : now_(start),
      wallOffset_(wallStart.time_since_epoch() -
                  std::chrono::duration_cast<WallTime::duration>(start.time_since_epoch())) {}

Clock::TimePoint VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

Clock::WallTime VirtualClock::wallNow() const {
    std::lock_guard lock(mutex_);
    return WallTime(std::chrono::duration_cast<WallTime::duration>(now_.time_since_epoch()) +
                    wallOffset_);
}

void VirtualClock::setWallTime(WallTime wall) {
    std::lock_guard lock(mutex_);
    wallOffset_ = wall.time_since_epoch() -
                  std::chrono::duration_cast<WallTime::duration>(now_.time_since_epoch());
}

bool VirtualClock::sleepFor(Duration d, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    recorded_.push_back(d);
    if (stop.stop_requested()) {
        return false;
    }
    if (d <= Duration::zero()) {
        return true;
    }
    if (autoAdvance_) {
        moveForwardLocked(d);
        return true;
    }
    const TimePoint deadline = saturatingAdd(now_, d);
    const auto slot = deadlines_.insert(deadline);
    changed_.notify_all();
    const bool elapsed = changed_.wait(lock, stop, [&] { return now_ >= deadline; });
    if (!elapsed) {
        // advance() already dropped the deadlines it reached; a stopped sleeper
        // was not reached, so its slot is still there.
        deadlines_.erase(slot);
        changed_.notify_all();
    }
    return elapsed;
}

void VirtualClock::advance(Duration d) {
    std::lock_guard lock(mutex_);
    moveForwardLocked(d);
}

void VirtualClock::moveForwardLocked(Duration d) {
    if (d > Duration::zero()) {
        now_ = saturatingAdd(now_, d);
    }
    // Sleepers leave the count here, not when their thread gets to run, so
    // that sleepers() and waitForSleepers() see a woken thread as gone at once
    // and a later waitForSleepers(1) really waits for it to park again.
    deadlines_.erase(deadlines_.begin(), deadlines_.upper_bound(now_));
    changed_.notify_all();
}

void VirtualClock::setAutoAdvance(bool on) {
    std::lock_guard lock(mutex_);
    autoAdvance_ = on;
}

std::size_t VirtualClock::sleepers() const {
    std::lock_guard lock(mutex_);
    return deadlines_.size();
}

std::optional<Clock::TimePoint> VirtualClock::nextDeadline() const {
    std::lock_guard lock(mutex_);
    if (deadlines_.empty()) {
        return std::nullopt;
    }
    return *deadlines_.begin();
}

bool VirtualClock::waitForSleepers(std::size_t count, std::chrono::milliseconds safety) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, safety, [&] { return deadlines_.size() >= count; });
}

std::vector<Clock::Duration> VirtualClock::recordedSleeps() const {
    std::lock_guard lock(mutex_);
    return recorded_;
}

}  // namespace cadrio
