#pragma once
// The libcurl transport both programs use: one easy handle per exchange,
// TLS verification always on, http and https only (redirects included),
// cancellation through the caller's stop token, polled by libcurl's progress
// callback (a transfer ends within about 0.1 s of the request, idle or not).
//
// Stateless: safe to share between threads.

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
};

}  // namespace cadrio
