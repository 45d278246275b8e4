#pragma once
// One connection of the drive event stream: sends the request through the
// transport's byte stream, watches for silence on the injected clock,
// parses the body and calls back for every "drive.changed" event.
//
// Threads: runs on the calling thread. The callbacks are called from inside
// the transport's sink, which for every transport of this project means on
// the calling thread too, one at a time. A per-connection stop source joins
// the caller's stop token and the idle watchdog (see idle_watchdog.hpp).

#include <chrono>
#include <exception>
#include <functional>
#include <stop_token>

#include "core/http/http_transport.hpp"
#include "core/support/clock.hpp"

namespace cadrio {

/// Carries an exception thrown by a callback out of the connection, so
/// that it is told apart from a failure of the stream itself.
struct EventCallbackFailure {
    std::exception_ptr error;
};

struct EventConnectionCallbacks {
    std::function<void()> onAccepted;  // the server answered 200
    std::function<void()> onChange;    // a "drive.changed" event arrived
};

/// Returns when the server ends the stream after a 200 answer. Throws
/// DriveError for a failed connection: eventStreamStatusError for any
/// status but 200 (a redirection included: the request carries the token,
/// so it is never followed), transport for network
/// failures, silence for `idleTimeout`, a non-HTTP answer or an event too
/// large to keep; CancellationError when `stop` was requested;
/// EventCallbackFailure when a callback threw (the connection is ended
/// first).
void runEventConnection(HTTPTransport& transport, Clock& clock, const HttpRequest& request,
                        std::chrono::seconds idleTimeout, const EventConnectionCallbacks& callbacks,
                        std::stop_token stop);

}  // namespace cadrio
