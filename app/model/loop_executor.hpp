#pragma once

// The serial executor of the terminal front end: run() turns the calling
// thread into the executor's thread until stop() or its stop token.
//
// Threads: post, postAfter, cancel and stop from any thread; run from one.
// mutex_ guards the queue, the timers and the wake-up source; a job runs
// with no lock held. The wait for the next timer is a sleep on the injected
// clock that a post, a cancel or a stop interrupts; nothing is polled.

#include <map>
#include <memory>
#include <stop_token>
#include <utility>
#include <vector>

#include "app/model/executor.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::app {

class LoopExecutor final : public SerialExecutor {
public:
    explicit LoopExecutor(Clock& clock);
    ~LoopExecutor() override;

    void post(Job job) override;
    TimerId postAfter(Clock::Duration delay, Job job) override;
    void cancel(TimerId timer) override;
    Clock& clock() const override { return clock_; }

    /// Runs jobs and due timers until stop() or `stop`; what is left queued
    /// is destroyed when the executor is.
    void run(std::stop_token stop = {});
    /// Final: the running loop ends after its current job, and a later
    /// run() returns at once (so a stop that races the start is not lost).
    void stop();

private:
    struct State;
    Clock& clock_;
    std::unique_ptr<State> state_;
};

}  // namespace cadrio::app
