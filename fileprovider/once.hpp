#pragma once
// Lets one call through: shared between a handler's task and its progress
// object, so that whichever answers first (the work, or a cancellation)
// reaches the host and the other is dropped.
//
// Threads: any thread may call run(). mutex_ guards done_ and is held only
// to read and set it; the body runs outside the lock.

#include <utility>

#include "core/support/thread_annotations.hpp"

namespace cadrio {

class Once {
public:
    /// Runs `body` on the first call only; returns whether it ran.
    template <class Body>
    bool run(Body&& body) CADRIO_EXCLUDES(mutex_) {
        {
            LockGuard lock(mutex_);
            if (done_) return false;
            done_ = true;
        }
        std::forward<Body>(body)();
        return true;
    }

    bool hasRun() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return done_;
    }

private:
    mutable Mutex mutex_;
    bool done_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio
