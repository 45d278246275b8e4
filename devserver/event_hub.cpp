#include "devserver/event_hub.hpp"

#include "devserver/auth_http.hpp"
#include "devserver/auth_service.hpp"
#include "devserver/auth_state.hpp"
#include "devserver/event_stream.hpp"

#include "core/support/thread_annotations.hpp"

#include <charconv>
#include <condition_variable>
#include <map>
#include <optional>

namespace cadrio::devserver {

namespace {

using SteadyClock = std::chrono::steady_clock;

/// How long one call of the content provider waits at most before handing
/// control back to httplib, which then notices a server being stopped.
constexpr auto kPollSlice = std::chrono::milliseconds(200);

/// The "ping" query item: absent gives the default; otherwise a decimal
/// integer from 1 to kMaxPingSeconds.
std::optional<int> readPing(const httplib::Request& req) {
    if (!req.has_param("ping")) return EventHub::kDefaultPingSeconds;
    const std::string text = req.get_param_value("ping");
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > EventHub::kMaxPingSeconds) {
        return std::nullopt;
    }
    return value;
}

bool writeText(httplib::DataSink& sink, const std::string& text) {
    return sink.write(text.data(), text.size());
}

}  // namespace

struct EventHub::State {
    mutable Mutex mutex;
    mutable std::condition_variable_any streamsChanged;  // signalled under `mutex`
    std::map<std::uint64_t, std::shared_ptr<EventStream>> streams CADRIO_GUARDED_BY(mutex);
    std::map<std::string, std::uint64_t> sequence CADRIO_GUARDED_BY(mutex);  // publishes per account
    std::uint64_t nextId CADRIO_GUARDED_BY(mutex) = 1;
    std::size_t maxStreams CADRIO_GUARDED_BY(mutex) = kDefaultMaxStreams;
    std::chrono::milliseconds pingUnit CADRIO_GUARDED_BY(mutex){1000};

    void remove(std::uint64_t id) CADRIO_EXCLUDES(mutex) {
        LockGuard lock(mutex);
        streams.erase(id);
        streamsChanged.notify_all();
    }
};

EventHub::EventHub() : state_(std::make_shared<State>()) {}

EventHub::~EventHub() { closeAll(); }

void EventHub::publish(const std::string& account) {
    const std::string key = lowerAscii(account);
    LockGuard lock(state_->mutex);
    const std::uint64_t sequence = ++state_->sequence[key];
    const nlohmann::json data = {{"account", key}, {"sequence", sequence}};
    const std::string frame =
        "event: drive.changed\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
        "\n\n";
    for (const auto& [id, stream] : state_->streams) {
        if (stream->account() == key) stream->push(frame);  // never waits for the client
    }
}

void EventHub::closeAll() {
    LockGuard lock(state_->mutex);
    for (const auto& [id, stream] : state_->streams) stream->close();
    state_->streams.clear();
    state_->streamsChanged.notify_all();
}

std::size_t EventHub::openStreams() const {
    LockGuard lock(state_->mutex);
    return state_->streams.size();
}

bool EventHub::waitForOpenStreams(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    UniqueLock lock(state_->mutex);
    while (state_->streams.size() != count) {
        if (state_->streamsChanged.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    return state_->streams.size() == count;
}

void EventHub::setMaxStreams(std::size_t count) {
    LockGuard lock(state_->mutex);
    state_->maxStreams = count;
}

void EventHub::setPingUnit(std::chrono::milliseconds unit) {
    LockGuard lock(state_->mutex);
    state_->pingUnit = unit;
}

namespace {

/// Writes one stream until it is closed or the client is gone. Returns what
/// httplib expects of a content provider: false ends the connection.
class StreamWriter {
public:
    StreamWriter(std::shared_ptr<EventStream> stream, SteadyClock::duration pingInterval)
        : stream_(std::move(stream)), pingInterval_(pingInterval) {}

    bool operator()(std::size_t /*offset*/, httplib::DataSink& sink) {
        if (!started_) {
            started_ = true;
            nextPing_ = SteadyClock::now() + pingInterval_;
            return writeText(sink, ": connected\n\n");
        }
        const auto next = stream_->waitNext(std::min(nextPing_, SteadyClock::now() + kPollSlice));
        switch (next.kind) {
            case EventStream::Next::Kind::frame:
                return writeText(sink, next.frame);
            case EventStream::Next::Kind::closed:
                sink.done();
                return true;
            case EventStream::Next::Kind::timeout:
                break;
        }
        if (SteadyClock::now() < nextPing_) return true;  // httplib checks for shutdown, then calls again
        nextPing_ = SteadyClock::now() + pingInterval_;
        return writeText(sink, ": ping\n\n");  // also how a gone client is noticed
    }

private:
    std::shared_ptr<EventStream> stream_;
    SteadyClock::duration pingInterval_;
    SteadyClock::time_point nextPing_{};
    bool started_ = false;
};

}  // namespace

void EventHub::registerRoutes(httplib::Server& server, const AuthService& auth) {
    std::shared_ptr<State> state = state_;
    server.Get("/api/v1/jmap/events/web", [state, &auth](const httplib::Request& req, httplib::Response& res) {
        const auto ping = readPing(req);
        if (!ping) {
            sendError(res, 400, "invalid_ping", "\"ping\" doit être un entier de 1 à 3600.");
            return;
        }
        const auto account = auth.accountForAuthorization(req.get_header_value("Authorization"));
        if (!account) {
            res.set_header("WWW-Authenticate", "Bearer");
            sendError(res, 401, "not_authenticated", "Jeton d'accès absent, inconnu ou expiré.");
            return;
        }
        auto stream = std::make_shared<EventStream>(*account);
        std::uint64_t id = 0;
        SteadyClock::duration interval{};
        {
            LockGuard lock(state->mutex);
            if (state->streams.size() >= state->maxStreams) {
                sendError(res, 503, "too_many_streams", "Trop de flux d'événements ouverts.");
                return;
            }
            id = state->nextId++;
            state->streams[id] = stream;
            state->streamsChanged.notify_all();
            interval = state->pingUnit * *ping;
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider("text/event-stream", StreamWriter(stream, interval),
                                         [state, id](bool /*success*/) { state->remove(id); });
    });
}

}  // namespace cadrio::devserver
