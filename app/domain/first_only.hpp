#pragma once

// Lets exactly one of two racing completions (the host's answer, a time-out)
// act: the first caller's body runs, every later one is dropped.
//
// Threads: run() from any thread; mutex_ guards done_, and the body runs
// with it released.

#include <utility>

#include "core/support/thread_annotations.hpp"

namespace cadrio::app {

class FirstOnly {
public:
    /// Runs `body` if no call came before; returns whether it ran.
    template <class Body>
    bool run(Body&& body) {
        bool wasDone;
        {
            LockGuard lock(mutex_);
            wasDone = done_;
            done_ = true;
        }
        if (!wasDone) std::forward<Body>(body)();
        return !wasDone;
    }

private:
    Mutex mutex_;
    bool done_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::app
