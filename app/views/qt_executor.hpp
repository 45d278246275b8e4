#pragma once

// The tray application's serial executor: jobs run on the Qt main thread
// (posted through the event loop), timers on the injected clock (one
// thread of the executor's own sleeps until the next deadline and posts
// the job), so the model and the views keep one notion of time.
//
// Threads: post, postAfter and cancel from any thread. Jobs posted after
// the QApplication is gone are dropped.

#include <memory>

#include "app/model/executor.hpp"

namespace cadrio::app::views {

class QtExecutor final : public SerialExecutor {
public:
    explicit QtExecutor(Clock& clock);
    ~QtExecutor() override;

    void post(Job job) override;
    TimerId postAfter(Clock::Duration delay, Job job) override;
    void cancel(TimerId timer) override;
    Clock& clock() const override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cadrio::app::views
