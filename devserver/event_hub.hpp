#pragma once
// The event server of the development server: one text/event-stream per
// connected client at /api/v1/jmap/events/web?ping=N, a keep-alive comment
// every N seconds and "event: drive.changed" after every change of the
// client's account.
//
// Thread safety: publish() may be called from any thread, never blocks on a
// client; each stream is served on its own server thread. One internal
// mutex guards the table of open streams; each stream's queue has its own
// (see event_stream.hpp), taken after the table's when both are held.
// Neither is held while writing to a socket.
//
// Every open stream holds one server worker thread: beyond maxStreams open
// streams a new one is refused with 503, so event clients can never take
// all the workers that the drive API needs.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace cadrio::devserver {

class AuthService;

class EventHub {
public:
    static constexpr int kDefaultPingSeconds = 30;
    static constexpr int kMaxPingSeconds = 3600;
    static constexpr std::size_t kDefaultMaxStreams = 32;

    EventHub();
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    /// Announces a change of `account`'s drive (lower-cased e-mail) to every
    /// stream open for that account.
    void publish(const std::string& account);

    /// Registers GET /api/v1/jmap/events/web; refuses (401) a request whose
    /// bearer token `auth` does not accept. `auth` must outlive the server's
    /// request threads; the hub's own state lives as long as its streams.
    void registerRoutes(httplib::Server& server, const AuthService& auth);

    /// Ends every open stream (server stop, reset). Streams opened later are
    /// served normally.
    void closeAll();

    /// Number of streams currently open (all accounts).
    std::size_t openStreams() const;
    /// Waits until exactly `count` streams are open; false when `timeout`
    /// passes first.
    bool waitForOpenStreams(std::size_t count, std::chrono::milliseconds timeout) const;

    /// Most streams open at once (default kDefaultMaxStreams).
    void setMaxStreams(std::size_t count);

    /// Length of one second of the "ping" interval (default one second);
    /// tests shorten it instead of waiting through real keep-alives.
    void setPingUnit(std::chrono::milliseconds unit);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace cadrio::devserver
