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

std::optional<DriveSession> ApiClient::currentSession() const {
    std::lock_guard lock(mutex_);
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
    std::lock_guard write(sessionWriteMutex_);
    auto loaded = sessionStore_->load();
    std::lock_guard lock(mutex_);
    session_ = std::move(loaded);
    return session_.has_value();
}

void ApiClient::logout() {
    std::lock_guard write(sessionWriteMutex_);
    sessionStore_->clear();
    std::lock_guard lock(mutex_);
    session_.reset();
}

void ApiClient::adoptSession(const DriveSession& session) {
    std::lock_guard write(sessionWriteMutex_);
    sessionStore_->save(session);
    std::lock_guard lock(mutex_);
    session_ = session;
}

void ApiClient::dropSessionAfterRefusal() {
    std::lock_guard write(sessionWriteMutex_);
    try {
        sessionStore_->clear();
    } catch (...) {
        return;  // the stored session stays, so the in-memory one does too
    }
    std::lock_guard lock(mutex_);
    session_.reset();
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

void ApiClient::backOff(int attempt, std::stop_token stop) {
    const auto delay = configuration_.retryBaseDelay * (1LL << (attempt - 1));
    if (!clock_.sleepFor(std::chrono::duration_cast<Clock::Duration>(delay), stop)) {
        throw CancellationError();
    }
}

HttpResponse ApiClient::request(std::string_view path, std::string_view method,
                                const std::optional<RequestBody>& body, bool retryable,
                                std::stop_token stop) {
    const int attempts = retryable ? std::max(1, configuration_.maxAttempts) : 1;
    joinAPIURL(configuration_.apiBaseURL, path);  // a bad path fails here, never retried
    for (int attempt = 1;; ++attempt) {
        try {
            return sendOnce(path, method, body, stop);
        } catch (const DriveError& error) {
            if (!error.isRetryable() || attempt >= attempts) throw;
        }
        backOff(attempt, stop);
    }
}

void ApiClient::post(std::string_view path, const nlohmann::json& json, std::stop_token stop) {
    request(path, "POST", RequestBody::json(json), true, stop);
}

void ApiClient::put(std::string_view path, const nlohmann::json& json, std::stop_token stop) {
    request(path, "PUT", RequestBody::json(json), true, stop);
}

HttpResponse ApiClient::sendExternal(const HttpRequest& request, std::stop_token stop) {
    const int attempts = std::max(1, configuration_.maxAttempts);
    for (int attempt = 1;; ++attempt) {
        try {
            HttpResponse response = transport_->send(request, stop);
            if (response.isSuccess()) return response;
            throw DriveError::http(response.status,
                                   bodyExcerpt(response.body, kStorageBodyExcerptLimit));
        } catch (const DriveError& error) {
            if (!error.isRetryable() || attempt >= attempts) throw;
        }
        backOff(attempt, stop);
    }
}

}  // namespace cadrio
