#pragma once
// A transport for tests of streamed answers: each stream() call takes the
// next scripted stream, whose body the test feeds chunk by chunk while the
// client reads it; send() answers from a separate script (the sign-in of a
// silent re-login). Every request is recorded. Header-only; never linked
// into the programs.
//
// A stream() call with nothing scripted waits until a stream is scripted or
// its stop token fires, like a server that never answers. Stop ends any
// stream at once with CancellationError, as the libcurl transport does.
//
// Threads: the test thread scripts and feeds; the client's thread reads.
// Each object's `mutex_` guards all its fields; a sink is never called with
// it held. Waits that the test makes are bounded in real time so that a
// bug fails the test instead of hanging it.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "core/http/http_transport.hpp"
#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio::testing {

class ScriptedStream {
public:
    explicit ScriptedStream(int status) : status_(status) {}

    /// Queues a chunk of the body.
    void push(std::string chunk) { update([&] { chunks_.push_back(std::move(chunk)); }); }
    /// The server ends the body after the queued chunks.
    void end() { update([&] { ended_ = true; }); }

    /// Waits until the client has read every queued chunk (its sink returned)
    /// or the exchange is over.
    bool waitUntilRead(std::chrono::milliseconds safety = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, safety, [&] { return (chunks_.empty() && !reading_) || over_; });
    }
    /// Waits until the exchange is over, whatever ended it.
    bool waitUntilOver(std::chrono::milliseconds safety = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, safety, [&] { return over_; });
    }

    /// Plays the script into `sink`; called by the transport.
    HttpResponse serve(HttpStreamSink& sink, std::stop_token stop) {
        struct MarkOver {
            ScriptedStream& self;
            ~MarkOver() { self.update([&] { self.over_ = true; }); }
        } markOver{*this};
        if (sink.onResponse) sink.onResponse(status_, {});
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, stop, [&] { return !chunks_.empty() || ended_; });
            if (stop.stop_requested()) throw CancellationError();
            if (chunks_.empty()) return {status_, {}, {}};
            std::string chunk = std::move(chunks_.front());
            chunks_.pop_front();
            reading_ = true;
            lock.unlock();
            const bool more = !sink.onData || sink.onData(chunk);
            update([&] { reading_ = false; });
            if (!more) return {status_, {}, {}};
        }
    }

private:
    template <class F>
    void update(F&& change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    const int status_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::string> chunks_;
    bool ended_ = false;
    bool reading_ = false;
    bool over_ = false;
};

class StreamingTransport final : public HTTPTransport {
public:
    /// The next stream() call answers `status` and then plays what the test
    /// feeds into the returned stream.
    std::shared_ptr<ScriptedStream> enqueueStream(int status = 200) {
        auto stream = std::make_shared<ScriptedStream>(status);
        update([&] { streams_.emplace_back(stream); });
        return stream;
    }
    /// The next stream() call answers `status` with `body` and ends.
    void enqueueClosedStream(int status, std::string body = {}) {
        auto stream = enqueueStream(status);
        if (!body.empty()) stream->push(std::move(body));
        stream->end();
    }
    /// The next stream() call fails before any answer.
    void enqueueStreamFailure(DriveError error) { update([&] { streams_.emplace_back(std::move(error)); }); }
    /// The next send() call answers `status` with `body`.
    void enqueueResponse(int status, std::string body = {}) {
        update([&] { responses_.push_back({status, {}, std::move(body)}); });
    }

    std::vector<HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    /// Waits until at least `count` requests were made.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds safety = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, safety, [&] { return requests_.size() >= count; });
    }

    HttpResponse send(const HttpRequest& request, std::stop_token) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        changed_.notify_all();
        if (responses_.empty()) throw std::logic_error("unexpected request: " + request.url);
        HttpResponse response = std::move(responses_.front());
        responses_.pop_front();
        return response;
    }

    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink, std::stop_token stop) override {
        Script script;
        {
            std::unique_lock lock(mutex_);
            requests_.push_back(request);
            changed_.notify_all();
            changed_.wait(lock, stop, [&] { return !streams_.empty(); });
            if (stop.stop_requested()) throw CancellationError();
            script = std::move(streams_.front());
            streams_.pop_front();
        }
        if (auto* error = std::get_if<DriveError>(&script)) throw *error;
        return std::get<std::shared_ptr<ScriptedStream>>(script)->serve(sink, stop);
    }

private:
    using Script = std::variant<std::shared_ptr<ScriptedStream>, DriveError>;

    template <class F>
    void update(F&& change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Script> streams_;
    std::deque<HttpResponse> responses_;
    std::vector<HttpRequest> requests_;
};

}  // namespace cadrio::testing
