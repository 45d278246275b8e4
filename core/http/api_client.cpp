#include "core/http/api_client.hpp"

#include <stdexcept>

#include "core/http/request_url.hpp"
#include "core/model/status_mapping.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {

RequestBody RequestBody::json(const nlohmann::json& value) {
    return {value.dump(), "application/json"};
}

RequestBody RequestBody::multipart(const MultipartForm& form) {
    return {form.body(), "multipart/form-data; boundary=" + form.boundary()};
}

ApiClient::ApiClient(DriveConfiguration configuration, std::shared_ptr<HTTPTransport> transport,
                     std::shared_ptr<SessionStoring> sessionStore,
                     std::shared_ptr<TrustedDeviceStoring> trustedDevices, Clock& clock)
    : configuration_(std::move(configuration)),
      transport_(std::move(transport)),
      sessionStore_(std::move(sessionStore)),
      trustedDevices_(std::move(trustedDevices)),
      clock_(clock) {
    if (!transport_ || !sessionStore_ || !trustedDevices_) {
        throw std::invalid_argument("ApiClient : transport et magasins requis");
    }
    requireSecureBaseURL(configuration_.apiBaseURL, "Adresse de l'API");
}

// Session ---------------------------------------------------------------------

/// The caller's turn at the session store: waits for it on construction,
/// hands it on at destruction without adopting anything unless commit()
/// made the result current first (so a store error leaves memory as it was).
class ApiClient::StoreTurn {
public:
    explicit StoreTurn(ApiClient& client) : client_(client) { client_.waitForStoreTurn(); }
    ~StoreTurn() {
        if (!ended_) client_.endStoreTurn(false, std::nullopt);
    }
    StoreTurn(const StoreTurn&) = delete;
    StoreTurn& operator=(const StoreTurn&) = delete;

    void commit(std::optional<DriveSession> session) {
        ended_ = true;
        client_.endStoreTurn(true, std::move(session));
    }

private:
    ApiClient& client_;
    bool ended_ = false;
};

void ApiClient::waitForStoreTurn() {
    UniqueLock lock(mutex_);
    while (storeTurnTaken_) storeTurnEnded_.wait(lock);
    storeTurnTaken_ = true;
}

void ApiClient::endStoreTurn(bool adopt, std::optional<DriveSession> session) {
    {
        LockGuard lock(mutex_);
        if (adopt) session_ = std::move(session);
        storeTurnTaken_ = false;
    }
    storeTurnEnded_.notify_one();
}

std::optional<DriveSession> ApiClient::currentSession() const {
    LockGuard lock(mutex_);
    return session_;
}

bool ApiClient::isAuthenticated() const { return currentSession().has_value(); }

std::optional<std::string> ApiClient::account() const {
    auto session = currentSession();
    if (!session) return std::nullopt;
    return session->account;
}

std::optional<std::string> ApiClient::currentAccessToken() const {
    auto session = currentSession();
    if (!session) return std::nullopt;
    return session->accessToken;
}

bool ApiClient::restoreSession() {
    StoreTurn turn(*this);
    auto loaded = sessionStore_->load();
    const bool found = loaded.has_value();
    turn.commit(std::move(loaded));
    return found;
}

void ApiClient::logout() {
    StoreTurn turn(*this);
    sessionStore_->clear();
    turn.commit(std::nullopt);
}

void ApiClient::adoptSession(const DriveSession& session) {
    StoreTurn turn(*this);
    sessionStore_->save(session);
    turn.commit(session);
}

void ApiClient::dropSessionAfterRefusal() {
    StoreTurn turn(*this);
    try {
        sessionStore_->clear();
    } catch (...) {
        return;  // the stored session stays, so the in-memory one does too
    }
    turn.commit(std::nullopt);
}

bool ApiClient::refreshSession(std::stop_token stop) {
    try {
        return reauthenticate(stop);
    } catch (...) {
        return false;
    }
}

bool ApiClient::reauthenticate(std::stop_token stop, const std::optional<std::string>& refusedToken) {
    const auto session = currentSession();
    if (!session) return false;
    if (refusedToken && session->accessToken != *refusedToken) return true;
    try {
        const LoginOutcome outcome = login(session->account, session->password, stop);
        if (outcome.isSignedIn()) return true;
        dropSessionAfterRefusal();
        return false;
    } catch (const DriveError& error) {
        if (error.kind() == DriveError::Kind::notAuthenticated) dropSessionAfterRefusal();
        return false;
    } catch (const CancellationError&) {
        throw;
    } catch (...) {
        return false;
    }
}

// Requests --------------------------------------------------------------------

HttpRequest ApiClient::buildRequest(std::string_view path, std::string_view method,
                                    const std::optional<RequestBody>& body) const {
    HttpRequest request;
    request.url = joinAPIURL(configuration_.apiBaseURL, path);
    request.method = std::string(method);
    request.timeoutSeconds = configuration_.requestTimeout;
    if (auto token = currentAccessToken()) {
        request.headers.emplace_back("Authorization", "Bearer " + *token);
    }
    if (body) {
        request.headers.emplace_back("Content-Type", body->contentType);
        request.body = body->bytes;
    }
    return request;
}

HttpResponse ApiClient::sendOnce(std::string_view path, std::string_view method,
                                 const std::optional<RequestBody>& body, std::stop_token stop) {
    HttpRequest request = buildRequest(path, method, body);
    HttpResponse response = transport_->send(request, stop);
    if (response.isSuccess()) return response;
    if (response.status == 401) {
        std::optional<std::string> refusedToken;
        if (auto header = headerValue(request.headers, "Authorization")) {
            refusedToken = header->substr(7);
        }
        if (refusedToken && reauthenticate(stop, refusedToken)) {
            response = transport_->send(buildRequest(path, method, body), stop);
            if (response.isSuccess()) return response;
        }
    }
    throw statusError(response.status, response.body, response.header("X-Drive-Conflict"));
}

bool ApiClient::mayRetry(const DriveError& error, Idempotency idempotency) noexcept {
    if (idempotency != Idempotency::notIdempotent) return error.isRetryable();
    if (error.kind() == DriveError::Kind::transport) return error.requestNeverSent();
    return error.kind() == DriveError::Kind::http && (error.status() == 429 || error.status() == 503);
}

void ApiClient::backOff(int attempt, std::stop_token stop) {
    const auto delay = configuration_.retryBaseDelay * (1LL << (attempt - 1));
    if (!clock_.sleepFor(std::chrono::duration_cast<Clock::Duration>(delay), stop)) {
        throw CancellationError();
    }
}

HttpResponse ApiClient::request(std::string_view path, std::string_view method,
                                const std::optional<RequestBody>& body, Idempotency idempotency,
                                std::stop_token stop) {
    const int attempts = std::max(1, configuration_.maxAttempts);
    joinAPIURL(configuration_.apiBaseURL, path);  // a bad path fails here, never retried
    for (int attempt = 1;; ++attempt) {
        try {
            return sendOnce(path, method, body, stop);
        } catch (const DriveError& error) {
            if (attempt >= attempts || !mayRetry(error, idempotency)) throw;
        }
        backOff(attempt, stop);
    }
}

void ApiClient::post(std::string_view path, const nlohmann::json& json, Idempotency idempotency,
                     std::stop_token stop) {
    request(path, "POST", RequestBody::json(json), idempotency, stop);
}

void ApiClient::put(std::string_view path, const nlohmann::json& json, std::stop_token stop) {
    request(path, "PUT", RequestBody::json(json), Idempotency::idempotent, stop);
}

HttpResponse ApiClient::sendExternal(const HttpRequest& request, std::stop_token stop) {
    const int attempts = std::max(1, configuration_.maxAttempts);
    for (int attempt = 1;; ++attempt) {
        try {
            HttpResponse response = transport_->send(request, stop);
            if (response.isSuccess()) return response;
            throw storageStatusError(response.status, response.body);
        } catch (const DriveError& error) {
            if (attempt >= attempts || !mayRetry(error, Idempotency::idempotent)) throw;
        }
        backOff(attempt, stop);
    }
}

RedirectPolicy ApiClient::storageDownloadRedirects() const {
    return cadrio::storageDownloadRedirects(configuration_.apiBaseURL);
}

}  // namespace cadrio
