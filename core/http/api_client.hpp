#pragma once
// The single gateway to the drive API: builds requests from paths relative to
// the API base URL, adds the bearer token, retries what is worth retrying
// with a doubling back-off on the injected clock, signs in again silently on
// a 401, maps failed answers to DriveError and decodes JSON answers.
//
// Threads: every member may be called from any thread. `mutex_` guards
// `session_` only and is held for a read or a write, never across the network
// or a wait. `sessionWriteMutex_` serialises "save to the store, then make
// current" (and "clear the store, then drop"), so that two re-logins racing
// after simultaneous 401s leave the store and memory holding the same
// session; it is never held across the network either.
//
// Ownership: the client shares ownership of its transport and stores; the
// clock must outlive it.

#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/http/http_transport.hpp"
#include "core/http/multipart_form.hpp"
#include "core/model/drive_configuration.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/wire_decoding.hpp"
#include "core/session/session_storing.hpp"
#include "core/session/trusted_device_storing.hpp"
#include "core/session/two_factor.hpp"
#include "core/support/clock.hpp"

namespace cadrio {

/// The body of an API request and its content type.
struct RequestBody {
    std::string bytes;
    std::string contentType;

    static RequestBody json(const nlohmann::json& value);
    static RequestBody multipart(const MultipartForm& form);
};

class ApiClient {
public:
    /// Throws std::invalid_argument when the base URL is plain http to a host
    /// that is not loopback.
    ApiClient(DriveConfiguration configuration, std::shared_ptr<HTTPTransport> transport,
              std::shared_ptr<SessionStoring> sessionStore,
              std::shared_ptr<TrustedDeviceStoring> trustedDevices,
              Clock& clock = SystemClock::shared());

    const DriveConfiguration& configuration() const noexcept { return configuration_; }
    HTTPTransport& transport() const noexcept { return *transport_; }
    Clock& clock() const noexcept { return clock_; }

    // Session ---------------------------------------------------------------
    bool isAuthenticated() const;
    std::optional<std::string> account() const;
    std::optional<std::string> currentAccessToken() const;
    /// Loads the stored session (possibly none) and makes it current; a store
    /// error propagates and leaves the current session untouched.
    bool restoreSession();
    /// Clears the store, then forgets the current session; a store error
    /// propagates and keeps it.
    void logout();
    /// The silent re-login; every failure answers false.
    bool refreshSession(std::stop_token stop = {});

    // Sign-in (sent once, without bearer token, retries or re-login) ---------
    LoginOutcome login(std::string_view email, std::string_view password,
                       std::stop_token stop = {});
    DriveSession verifyTwoFactor(const TwoFactorChallenge& challenge, TwoFactorMethod method,
                                 std::string_view code, bool rememberDevice,
                                 std::string_view deviceLabel, std::stop_token stop = {});

    // Requests ----------------------------------------------------------------
    template <class T>
    T get(std::string_view path, std::stop_token stop = {}) {
        return decode<T>(request(path, "GET", std::nullopt, true, stop).body);
    }
    template <class T>
    T post(std::string_view path, const nlohmann::json& json, std::stop_token stop = {}) {
        return decode<T>(request(path, "POST", RequestBody::json(json), true, stop).body);
    }
    void post(std::string_view path, const nlohmann::json& json, std::stop_token stop = {});
    /// Sends `json` as the whole body: an object, or any JSON value such as
    /// the single string of a rename.
    void put(std::string_view path, const nlohmann::json& json, std::stop_token stop = {});
    template <class T>
    T postMultipart(std::string_view path, const MultipartForm& form, std::stop_token stop = {}) {
        return decode<T>(request(path, "POST", RequestBody::multipart(form), false, stop).body);
    }
    template <class T>
    T putMultipart(std::string_view path, const MultipartForm& form, std::stop_token stop = {}) {
        return decode<T>(request(path, "PUT", RequestBody::multipart(form), false, stop).body);
    }

    /// A request to a presigned storage URL, sent as given (no base URL, no
    /// token, no re-login), retried like API requests; a failed answer is
    /// DriveError::http with a 300-byte excerpt.
    HttpResponse sendExternal(const HttpRequest& request, std::stop_token stop = {});

    /// One API exchange with authentication, retries (when `retryable`),
    /// re-login and error mapping. Returns only 2xx answers.
    HttpResponse request(std::string_view path, std::string_view method,
                         const std::optional<RequestBody>& body, bool retryable,
                         std::stop_token stop = {});

    /// The shared decode step: DriveError::decoding with the decoder's
    /// description when the body does not match T's wire form.
    template <class T>
    static T decode(std::string_view body) {
        return decodeWire<T>(body);
    }

    /// The silent re-login after a refusal. `refusedToken` is the token the
    /// refused request carried: when another thread has renewed the session
    /// since, the renewed one is used without signing in again.
    bool reauthenticate(std::stop_token stop = {},
                        const std::optional<std::string>& refusedToken = std::nullopt);

    /// The request as it would be sent now (base URL joined, token added).
    HttpRequest buildRequest(std::string_view path, std::string_view method,
                             const std::optional<RequestBody>& body) const;

private:
    HttpResponse sendOnce(std::string_view path, std::string_view method,
                          const std::optional<RequestBody>& body, std::stop_token stop);
    HttpResponse sendSignIn(std::string_view path, const nlohmann::json& body,
                            std::stop_token stop);
    void backOff(int attempt, std::stop_token stop);
    void adoptSession(const DriveSession& session);
    void dropSessionAfterRefusal();
    std::optional<DriveSession> currentSession() const;

    const DriveConfiguration configuration_;
    const std::shared_ptr<HTTPTransport> transport_;
    const std::shared_ptr<SessionStoring> sessionStore_;
    const std::shared_ptr<TrustedDeviceStoring> trustedDevices_;
    Clock& clock_;

    mutable std::mutex mutex_;
    std::optional<DriveSession> session_;  // guarded by mutex_
    std::mutex sessionWriteMutex_;
};

}  // namespace cadrio
