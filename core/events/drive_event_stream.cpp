#include "core/events/drive_event_stream.hpp"

#include <algorithm>
#include <stdexcept>

#include "core/events/event_connection.hpp"
#include "core/events/event_stream_url.hpp"
#include "core/http/request_url.hpp"
#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {

std::string DriveEventStream::Status::description() const {
    switch (kind_) {
        case Kind::disconnected:
            return "disconnected(retryIn: " + std::to_string(retryIn_) + ")";
        case Kind::connected:
            return "connected";
        case Kind::unauthorized:
            return "unauthorized";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& out, const DriveEventStream::Status& status) {
    return out << status.description();
}

DriveEventStream::DriveEventStream(std::shared_ptr<ApiClient> client, std::string baseURL, int pingSeconds)
    : client_(std::move(client)), baseURL_(std::move(baseURL)), pingSeconds_(pingSeconds) {
    if (!client_) throw std::invalid_argument("DriveEventStream : client absent");
    requireSecureBaseURL(baseURL_, "serveur d'événements");
    if (pingSeconds_ < 1 || pingSeconds_ > kMaxPingSeconds) {
        throw std::invalid_argument("DriveEventStream : intervalle de ping hors limites : " +
                                    std::to_string(pingSeconds_));
    }
}

std::chrono::seconds DriveEventStream::idleTimeout() const noexcept {
    return std::chrono::seconds(pingSeconds_ * 2 + 15);
}

int DriveEventStream::reconnectionDelay(int failures) noexcept {
    const int last = static_cast<int>(reconnectionDelays.size()) - 1;
    return reconnectionDelays[static_cast<std::size_t>(std::clamp(failures, 0, last))];
}

HttpRequest DriveEventStream::makeRequest(const std::string& accessToken) const {
    HttpRequest request;
    request.method = "GET";
    request.url = eventStreamURL(baseURL_, pingSeconds_);
    request.headers = {{"Authorization", "Bearer " + accessToken}, {"Accept", "text/event-stream"}};
    request.timeoutSeconds = static_cast<double>(idleTimeout().count());
    return request;
}

void DriveEventStream::run(const ChangeHandler& onChange, const StatusHandler& onStatus,
                           std::stop_token stop) const {
    int failures = 0;
    // The last connection carried a token fresh from a silent sign-in and no
    // 200 has come since: a refusal now is final.
    bool freshSignIn = false;
    while (!stop.stop_requested()) {
        std::optional<std::string> usedToken;
        const Ending ending = connectOnce(onChange, onStatus, stop, failures, freshSignIn, usedToken);
        if (stop.stop_requested()) return;
        if (ending == Ending::refused) {
            if (freshSignIn || !signInAgain(stop, usedToken)) {
                if (stop.stop_requested()) return;
                if (onStatus) onStatus(Status::unauthorized());
                return;
            }
            freshSignIn = true;
            continue;
        }
        freshSignIn = false;
        const int delay = reconnectionDelay(failures);
        failures = std::min(failures + 1, static_cast<int>(reconnectionDelays.size()));
        if (onStatus) onStatus(Status::disconnected(delay));
        client_->clock().sleepFor(std::chrono::seconds(delay), stop);
    }
}

DriveEventStream::Ending DriveEventStream::connectOnce(const ChangeHandler& onChange,
                                                       const StatusHandler& onStatus,
                                                       std::stop_token stop, int& failures,
                                                       bool& freshSignIn,
                                                       std::optional<std::string>& usedToken) const {
    EventConnectionCallbacks callbacks;
    callbacks.onAccepted = [&] {
        failures = 0;
        freshSignIn = false;
        if (onStatus) onStatus(Status::connected());
    };
    callbacks.onChange = [&] {
        if (onChange) onChange();
    };
    try {
        usedToken = client_->currentAccessToken();
        if (!usedToken) throw DriveError::notAuthenticated();
        runEventConnection(client_->transport(), client_->clock(), makeRequest(*usedToken), idleTimeout(),
                           callbacks, stop);
        return Ending::closed;
    } catch (const EventCallbackFailure& failure) {
        std::rethrow_exception(failure.error);
    } catch (const DriveError& error) {
        return error.kind() == DriveError::Kind::notAuthenticated ? Ending::refused : Ending::failed;
    } catch (...) {
        // Cancellation, or a transport failing in a way of its own: either
        // way the connection is over and run() decides what follows.
        return Ending::failed;
    }
}

bool DriveEventStream::signInAgain(std::stop_token stop,
                                   const std::optional<std::string>& refusedToken) const {
    try {
        return client_->reauthenticate(stop, refusedToken);
    } catch (...) {
        return false;
    }
}

}  // namespace cadrio
