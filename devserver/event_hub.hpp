#pragma once
// The event server of the development server: one text/event-stream per
// connected client at /api/v1/jmap/events/web?ping=N, a keep-alive comment
// every N seconds and "event: drive.changed" after every change of the
// client's account.
//
// Thread safety: publish() may be called from any thread, never blocks on a
// client; each stream is served on its own server thread.

#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace cadrio::devserver {

class AuthService;

class EventHub {
public:
    EventHub();
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    /// Announces a change of `account`'s drive (lower-cased e-mail) to every
    /// stream open for that account.
    void publish(const std::string& account);

    /// Registers GET /api/v1/jmap/events/web; refuses (401) a request whose
    /// bearer token `auth` does not accept.
    void registerRoutes(httplib::Server& server, const AuthService& auth);

    /// Ends every open stream (server stop, reset).
    void closeAll();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace cadrio::devserver
