#include "core/events/event_connection.hpp"

#include <string>

#include "core/events/idle_watchdog.hpp"
#include "core/events/sse_parser.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/status_mapping.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

constexpr std::string_view kChangedEvent = "drive.changed";

// The sink's state. The transport calls into C code between our callbacks,
// so nothing may be thrown from them: a callback's exception is kept and
// the transfer is ended instead.
class StreamReader {
public:
    StreamReader(const EventConnectionCallbacks& callbacks, IdleWatchdog& watchdog)
        : callbacks_(callbacks), watchdog_(watchdog) {}

    HttpStreamSink sink() {
        return {[this](int status, const HttpHeaders&) { onResponse(status); },
                [this](std::string_view chunk) { return onData(chunk); }};
    }

    int status() const { return status_; }
    bool accepted() const { return accepted_; }
    bool exceededLimit() const { return parser_.exceededLimit(); }
    const std::exception_ptr& callbackError() const { return callbackError_; }

    void accept() {
        accepted_ = true;
        invoke(callbacks_.onAccepted);
    }

private:
    void onResponse(int status) {
        watchdog_.touch();
        status_ = status;
        if (status == 200 && !accepted_) accept();
    }

    bool onData(std::string_view chunk) {
        watchdog_.touch();
        if (status_ != 200 || callbackError_) return false;  // an error body is never read
        for (const ServerSentEvent& event : parser_.feed(chunk)) {
            if (event.event != kChangedEvent) continue;
            invoke(callbacks_.onChange);
            if (callbackError_) return false;
        }
        return !parser_.exceededLimit();
    }

    void invoke(const std::function<void()>& callback) {
        if (!callback || callbackError_) return;
        try {
            callback();
        } catch (...) {
            callbackError_ = std::current_exception();
        }
    }

    const EventConnectionCallbacks& callbacks_;
    IdleWatchdog& watchdog_;
    SSEParser parser_;
    int status_ = 0;
    bool accepted_ = false;
    std::exception_ptr callbackError_;
};

DriveError silenceError(std::chrono::seconds idleTimeout) {
    return DriveError::transport("aucune donnée reçue du flux depuis " +
                                 std::to_string(idleTimeout.count()) + " s");
}

// Why the exchange ended early, in order of precedence.
void throwEarlyEnd(const StreamReader& reader, const IdleWatchdog& watchdog, const std::stop_token& stop,
                   std::chrono::seconds idleTimeout) {
    if (reader.callbackError()) throw EventCallbackFailure{reader.callbackError()};
    if (stop.stop_requested()) throw CancellationError();
    if (watchdog.fired()) throw silenceError(idleTimeout);
}

}  // namespace

void runEventConnection(HTTPTransport& transport, Clock& clock, const HttpRequest& request,
                        std::chrono::seconds idleTimeout, const EventConnectionCallbacks& callbacks,
                        std::stop_token stop) {
    std::stop_source connection;
    const std::stop_callback forwardStop(stop, [&connection] { connection.request_stop(); });
    IdleWatchdog watchdog(clock, idleTimeout, connection);
    StreamReader reader(callbacks, watchdog);
    HttpStreamSink sink = reader.sink();

    HttpResponse response;
    try {
        response = transport.stream(request, sink, connection.get_token());
    } catch (...) {
        throwEarlyEnd(reader, watchdog, stop, idleTimeout);
        throw;
    }
    throwEarlyEnd(reader, watchdog, stop, idleTimeout);
    if (reader.exceededLimit()) throw DriveError::transport("événement du flux trop long");

    const int status = response.status != 0 ? response.status : reader.status();
    if (status != 200) throw eventStreamStatusError(status);
    if (!reader.accepted()) {
        reader.accept();  // a transport that gave no head before the end of the body
        if (reader.callbackError()) throw EventCallbackFailure{reader.callbackError()};
    }
}

}  // namespace cadrio

