#pragma once
// Keeps one server-sent-events connection open to the drive's event server
// for as long as `run` runs, reports the state of the connection, calls back
// on every "drive.changed" notice and reconnects by itself after 1, 2, 5,
// 10, 30 and then every 60 seconds (a 200 answer starts the schedule over).
// It fetches no change itself: the caller reacts to the notice.
//
// The stream authenticates with the shared client's access token. When the
// server refuses it (401 or 403), the client signs in again silently and the
// stream reconnects at once; a refusal of the renewed token too, or a failed
// re-login, stops the stream as `unauthorized`, since a stream that keeps
// signing in and being refused would only hammer both servers.
//
// Threads: `run` blocks the calling thread until its stop token fires or the
// stream stops as unauthorized; both callbacks are called on that thread,
// one at a time and in order, and `onChange` is waited for before the next
// event is read. Every wait (reconnection delay, idle time-out) is on the
// client's clock. The object itself is immutable after construction, so
// several threads may run it at once, each with its own failure counter and
// parser.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/http/api_client.hpp"

namespace cadrio {

class DriveEventStream {
public:
    /// The only event type acted upon.
    static constexpr std::string_view changedEvent = "drive.changed";
    /// Waits in seconds after 0, 1, 2, ... consecutive failed or ended
    /// connections; the last one repeats.
    static constexpr std::array<int, 6> reconnectionDelays{1, 2, 5, 10, 30, 60};
    static constexpr int kMaxPingSeconds = 3600;

    class Status {
    public:
        enum class Kind { disconnected, connected, unauthorized };

        /// The connection is down; the next attempt starts in `retryIn` seconds.
        static Status disconnected(int retryIn) { return {Kind::disconnected, retryIn}; }
        /// The server accepted the stream (HTTP 200).
        static Status connected() { return {Kind::connected, 0}; }
        /// The token was refused and a fresh sign-in did not help; the stream has stopped.
        static Status unauthorized() { return {Kind::unauthorized, 0}; }

        Kind kind() const noexcept { return kind_; }
        /// Seconds until the next attempt; 0 unless disconnected.
        int retryIn() const noexcept { return retryIn_; }
        /// "disconnected(retryIn: 5)", "connected" or "unauthorized", for logs.
        std::string description() const;

        bool operator==(const Status&) const = default;

    private:
        Status(Kind kind, int retryIn) : kind_(kind), retryIn_(retryIn) {}
        Kind kind_;
        int retryIn_;
    };

    using ChangeHandler = std::function<void()>;
    using StatusHandler = std::function<void(const Status&)>;

    /// `baseURL` is the event server's (see event_stream_url.hpp); the
    /// application asks for a ping every 30 seconds. Throws
    /// std::invalid_argument for a null client, a base URL that is neither
    /// https nor loopback http, or `pingSeconds` outside 1 to kMaxPingSeconds.
    DriveEventStream(std::shared_ptr<ApiClient> client, std::string baseURL, int pingSeconds);

    const std::shared_ptr<ApiClient>& client() const noexcept { return client_; }
    const std::string& baseURL() const noexcept { return baseURL_; }
    int pingSeconds() const noexcept { return pingSeconds_; }
    /// Silence after which a connection is dropped: pingSeconds * 2 + 15.
    std::chrono::seconds idleTimeout() const noexcept;

    /// The wait after `failures` consecutive failed or ended connections.
    static int reconnectionDelay(int failures) noexcept;

    /// Connects, reads and reconnects until `stop` fires (then returns at
    /// once, also from a connection or a wait) or the stream stops as
    /// unauthorized. Stream failures never escape: they become statuses.
    /// An exception thrown by a callback ends the connection and propagates
    /// out of `run` as it is.
    void run(const ChangeHandler& onChange, const StatusHandler& onStatus, std::stop_token stop) const;

private:
    enum class Ending { closed, refused, failed };

    Ending connectOnce(const ChangeHandler& onChange, const StatusHandler& onStatus,
                       std::stop_token stop, int& failures, bool& freshSignIn,
                       std::optional<std::string>& usedToken) const;
    HttpRequest makeRequest(const std::string& accessToken) const;
    bool signInAgain(std::stop_token stop, const std::optional<std::string>& refusedToken) const;

    std::shared_ptr<ApiClient> client_;
    std::string baseURL_;
    int pingSeconds_;
};

std::ostream& operator<<(std::ostream& out, const DriveEventStream::Status& status);

}  // namespace cadrio
