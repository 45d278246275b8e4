#pragma once

// Where the application's work runs. The model's state belongs to one serial
// executor (the Qt main thread in the tray, a small loop in the terminal
// front end, a manual executor in tests); blocking work (the network, the
// session bus, child processes) goes to a background executor and posts its
// result back. Every delay is measured on the executor's injected clock.

#include <cstdint>
#include <functional>

#include "core/support/clock.hpp"

namespace cadrio::app {

class Executor {
public:
    using Job = std::function<void()>;

    virtual ~Executor() = default;

    /// Queues `job`. Any thread. A job posted after the executor was shut
    /// down is destroyed without running.
    virtual void post(Job job) = 0;
};

/// Runs its jobs one at a time, in the order they were posted, on one
/// thread, and fires timers on its clock.
class SerialExecutor : public Executor {
public:
    using TimerId = std::uint64_t;  // never 0

    /// Runs `job` once `delay` has passed on clock(). Any thread.
    virtual TimerId postAfter(Clock::Duration delay, Job job) = 0;

    /// A timer that has not fired never fires; a fired or unknown id is
    /// ignored. Any thread; from the executor's own thread the job is
    /// certainly not run afterwards.
    virtual void cancel(TimerId timer) = 0;

    virtual Clock& clock() const = 0;
};

}  // namespace cadrio::app
