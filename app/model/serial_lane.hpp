#pragma once

// Runs jobs one after the other, in the order they were posted, on another
// executor (a pool): the session and the domain change in the order the
// user asked, so a sign-out's logout and unmount never overtake the sign-in
// or the mount before them.
//
// Threads: post from any thread. The queue lives in a state that the jobs
// share, so a lane may go away with jobs still queued; they run anyway.
// State::mutex guards the queue and the running flag; a job runs with no
// lock held.

#include <memory>

#include "app/model/executor.hpp"

namespace cadrio::app {

class SerialLane final : public Executor {
public:
    /// `target` must outlive every job posted here.
    explicit SerialLane(Executor& target);
    ~SerialLane() override;

    void post(Job job) override;

private:
    struct State;
    static void drain(const std::shared_ptr<State>& state);

    Executor& target_;
    std::shared_ptr<State> state_;
};

}  // namespace cadrio::app
