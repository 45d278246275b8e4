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
#include <cstddef>
#include <functional>

#include "app/model/executor.hpp"
#include "core/support/clock.hpp"

namespace cadrio::app::testing {

class ManualExecutor final : public SerialExecutor {
public:
    explicit ManualExecutor(VirtualClock& clock);

    void post(Job job) override;
    TimerId postAfter(Clock::Duration delay, Job job) override;
    void cancel(TimerId timer) override;
    Clock& clock() const override;

    /// Runs queued jobs and due timers, including those they queue, until
    /// none is left; returns how many ran.
    std::size_t runReady();

    /// Moves the clock forward by `d` in steps, stopping at each timer
    /// deadline on the way to run it and what it queued (runReady).
    void advance(Clock::Duration d);

    /// Runs what arrives (from other threads too) until `done()` holds;
    /// false when `safety` of REAL time passed first.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds safety = std::chrono::seconds(10));

    /// Timers not yet fired nor cancelled.
    std::size_t pendingTimers() const;
};

}  // namespace cadrio::app::testing
