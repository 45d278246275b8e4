#pragma once
// A transport for tests: answers from a script, one step per exchange, and
// records every request it was given. Header-only; never linked into the
// programs.
//
// stream() hands a plain step's body to the sink in chunks of
// streamChunkSize bytes and, like the real transport, ends with
// CancellationError once the stop token fires (checked before each chunk);
// a stream step plays the whole exchange itself (a body cut short, say).
//
// Threads: `mutex_` guards script_ and requests_; a step's action runs
// outside it.

#include <algorithm>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/http/http_transport.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::testing {

class ScriptedTransport final : public HTTPTransport {
public:
    /// A step answers one exchange: return a response or throw.
    using Step = std::function<HttpResponse(const HttpRequest&)>;
    /// Answers one stream() exchange, sink and stop token in hand.
    using StreamStep = std::function<HttpResponse(const HttpRequest&, HttpStreamSink&, std::stop_token)>;

    static constexpr std::size_t streamChunkSize = 4;

    void enqueue(Step step) {
        LockGuard lock(mutex_);
        script_.push_back({std::move(step), nullptr});
    }
    void enqueueStream(StreamStep step) {
        LockGuard lock(mutex_);
        script_.push_back({nullptr, std::move(step)});
    }
    void enqueue(int status, std::string body = {}, HttpHeaders headers = {}) {
        enqueue([=](const HttpRequest&) { return HttpResponse{status, headers, body}; });
    }
    template <class Error>
    void enqueueError(Error error) {
        enqueue([error](const HttpRequest&) -> HttpResponse { throw error; });
    }

    std::vector<HttpRequest> requests() const {
        LockGuard lock(mutex_);
        return requests_;
    }

    HttpResponse send(const HttpRequest& request, std::stop_token) override {
        Entry entry = next(request);
        if (!entry.step) throw std::logic_error("stream step met by send: " + request.url);
        return entry.step(request);
    }

    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                        std::stop_token stop) override {
        Entry entry = next(request);
        if (entry.streamStep) return entry.streamStep(request, sink, stop);
        HttpResponse response = entry.step(request);
        if (sink.onResponse) sink.onResponse(response.status, response.headers);
        const std::string_view body = response.body;
        for (std::size_t at = 0; at < body.size(); at += streamChunkSize) {
            if (stop.stop_requested()) throw CancellationError();
            if (sink.onData && !sink.onData(body.substr(at, std::min(streamChunkSize, body.size() - at)))) break;
        }
        response.body.clear();
        return response;
    }

private:
    struct Entry {
        Step step;              // set for a plain step
        StreamStep streamStep;  // set for a stream step
    };

    Entry next(const HttpRequest& request) {
        LockGuard lock(mutex_);
        requests_.push_back(request);
        if (script_.empty()) throw std::logic_error("unexpected request: " + request.url);
        Entry entry = std::move(script_.front());
        script_.pop_front();
        return entry;
    }

    mutable Mutex mutex_;
    std::deque<Entry> script_ CADRIO_GUARDED_BY(mutex_);
    std::vector<HttpRequest> requests_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::testing
