#pragma once
// The end of the background loading of the stored session, for the requests
// that would otherwise race it. The extension loads its session from the
// secret store after construction, and the host's first requests come at
// once: a request that went out before the load is done finds no session and
// fails as not authenticated, although a session is there. So requests wait
// for the load first, bounded (a secret store that hangs must not hold the
// host's requests for ever) and cancellable; after the bound they go on and
// meet whatever session there is.
//
// Threads: any thread may call any member; the state is one stop_source,
// which is thread-safe. The clock must outlive this object.

#include <chrono>
#include <stop_token>

#include "core/support/clock.hpp"

namespace cadrio {

class SessionRestore {
  public:
    /// How long a request waits for the load at most.
    static constexpr std::chrono::seconds kWaitLimit{5};

    explicit SessionRestore(Clock& clock) : clock_(clock) {}

    /// The load is over, whatever its outcome. Wakes every waiter.
    void finished() { done_.request_stop(); }
    bool isFinished() const { return done_.stop_requested(); }

    /// Returns once the load is over (true), or once kWaitLimit has passed
    /// on the clock (false). Throws CancellationError when `stop` fires
    /// first.
    bool waitUntilFinished(std::stop_token stop) const;

  private:
    Clock& clock_;
    std::stop_source done_;
};

}  // namespace cadrio
