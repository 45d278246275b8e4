#pragma once
// A transport for tests: answers from a script, one step per exchange, and
// records every request it was given. Header-only; never linked into the
// programs.
//
// Threads: `mutex_` guards script_ and requests_; a step's action runs
// outside it.

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/http/http_transport.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::testing {

class ScriptedTransport final : public HTTPTransport {
public:
    /// A step answers one exchange: return a response or throw.
    using Step = std::function<HttpResponse(const HttpRequest&)>;

    void enqueue(Step step) {
        LockGuard lock(mutex_);
        script_.push_back(std::move(step));
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
    std::size_t remainingSteps() const {
        LockGuard lock(mutex_);
        return script_.size();
    }

    HttpResponse send(const HttpRequest& request, std::stop_token) override {
        Step step;
        {
            LockGuard lock(mutex_);
            requests_.push_back(request);
            if (script_.empty()) throw std::logic_error("unexpected request: " + request.url);
            step = std::move(script_.front());
            script_.pop_front();
        }
        return step(request);
    }

    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                        std::stop_token stop) override {
        HttpResponse response = send(request, stop);
        if (sink.onResponse) sink.onResponse(response.status, response.headers);
        if (sink.onData && !response.body.empty()) sink.onData(response.body);
        response.body.clear();
        return response;
    }

private:
    mutable Mutex mutex_;
    std::deque<Step> script_ CADRIO_GUARDED_BY(mutex_);
    std::vector<HttpRequest> requests_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::testing
