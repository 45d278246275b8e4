#pragma once
// The libcurl transport both programs use: one easy handle (so one fresh
// connection) per exchange, TLS verification always on, http and https only,
// cancellation through the caller's stop token, polled by libcurl's progress
// callback (a transfer ends within about 0.1 s of the request, idle or not).
//
// Redirections follow the request's RedirectPolicy: by default none is
// followed and the 3xx answer is returned as it came. Under the download
// policies each hop's target is checked before it is followed (at most
// five hops; the last 3xx is returned when the limit or the check stops it),
// and credentials (Authorization, Cookie) are not carried along.
//
// Failures: DriveError::transportBeforeSending when the exchange failed
// before the request went out (name resolution, connection, TLS handshake,
// a time-out while connecting), DriveError::transport for every other
// network failure.
//
// Stateless: safe to share between threads.

#include <optional>
#include <string>

#include "core/http/http_transport.hpp"

namespace cadrio {

class CurlTransport final : public HTTPTransport {
public:
    CurlTransport();

    HttpResponse send(const HttpRequest& request, std::stop_token stop) override;
    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                        std::stop_token stop) override;

private:
    HttpResponse perform(const HttpRequest& request, HttpStreamSink* sink, std::stop_token stop);
    /// One hop. When the answer is a redirection the policy lets it follow
    /// and `redirectTarget` is given, stores the target there and returns
    /// an empty response without telling the sink.
    HttpResponse performOnce(const HttpRequest& request, HttpStreamSink* sink,
                             const std::stop_token& stop,
                             std::optional<std::string>* redirectTarget);
};

}  // namespace cadrio
