#pragma once
// Performs one HTTP exchange. Implementations are safe to call from several
// threads at once; each call is independent.

#include <stop_token>

#include "core/http/http_message.hpp"

namespace cadrio {

class HTTPTransport {
public:
    virtual ~HTTPTransport() = default;

    /// Sends `request` and returns the final answer with its whole body,
    /// whatever its status. A network failure throws DriveError::transport;
    /// a stop request ends the exchange at once with CancellationError.
    virtual HttpResponse send(const HttpRequest& request, std::stop_token stop) = 0;

    /// Like send, but hands the body to `sink` as it arrives instead of
    /// keeping it; the returned response has an empty body.
    virtual HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                                std::stop_token stop) = 0;
};

}  // namespace cadrio
