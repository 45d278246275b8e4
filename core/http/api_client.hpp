#pragma once
// The single gateway to the drive API: builds requests from paths relative to
// the API base URL, adds the bearer token, retries what is worth retrying
// with a doubling back-off on the injected clock, signs in again silently on
// a 401, maps failed answers to DriveError and decodes JSON answers.
//
// Retries: every operation declares its Idempotency, and mayRetry() is the
// one rule that decides, from it and the failure, whether to send again.
// A request that may already have reached the server is repeated only when
// repeating it cannot act twice.
//
// Threads: every member may be called from any thread. `mutex_` guards the
// fields marked so and is held for a read or a write only, never across the
// network, a wait or a call to a store. Store calls that change or reload
// the session (save, clear, load) take turns: a caller waits on
// `storeTurnEnded_` until no other such call runs (`storeTurnTaken_`),
// makes its call with no lock held, then makes its result current under
// `mutex_` and hands the turn on. So two re-logins racing after
// simultaneous 401s, or a restore, logout or sign-in racing each other,
// leave the store and memory holding the same session, while readers
// (isAuthenticated, currentAccessToken, the requests) never wait for a
// store that is slow to answer (a secret store waiting for its unlock).
//
// Ownership: the client shares ownership of its transport and stores; the
// clock must outlive it.

#include <condition_variable>
#include <memory>
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
#include "core/support/thread_annotations.hpp"

namespace cadrio {

/// The body of an API request and its content type.
struct RequestBody {
    std::string bytes;
    std::string contentType;

    static RequestBody json(const nlohmann::json& value);
    static RequestBody multipart(const MultipartForm& form);
};

/// Whether sending an API request twice has the effect of sending it once;
/// every operation declares it (see ApiClient::mayRetry).
enum class Idempotency {
    /// Reads, presigns, aborts, metadata PUTs, moves and trashing.
    idempotent,
    /// A second copy would act again: folder creation, the single upload,
    /// the small replacement, multipart init.
    notIdempotent,
    /// Acts once, and a second copy is refused with 409 "key_in_use"
    /// instead of acting again (the multipart completions): retried like an
    /// idempotent request; the caller resolves that refusal.
    refusedWhenRepeated,
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

    // Sign-in (sent once, without bearer token, retries, re-login or
    // redirection). Throw DriveError, KeychainError (the session store) or
    // CancellationError, nothing else.
    LoginOutcome login(std::string_view email, std::string_view password,
                       std::stop_token stop = {});
    DriveSession verifyTwoFactor(const TwoFactorChallenge& challenge, TwoFactorMethod method,
                                 std::string_view code, bool rememberDevice,
                                 std::string_view deviceLabel, std::stop_token stop = {});

    // Requests ----------------------------------------------------------------
    // GET and PUT are idempotent; a POST says what it is.
    template <class T>
    T get(std::string_view path, std::stop_token stop = {}) {
        return decode<T>(request(path, "GET", std::nullopt, Idempotency::idempotent, stop).body);
    }
    template <class T>
    T post(std::string_view path, const nlohmann::json& json, Idempotency idempotency,
           std::stop_token stop = {}) {
        return decode<T>(request(path, "POST", RequestBody::json(json), idempotency, stop).body);
    }
    void post(std::string_view path, const nlohmann::json& json, Idempotency idempotency,
              std::stop_token stop = {});
    /// Sends `json` as the whole body: an object, or any JSON value such as
    /// the single string of a rename.
    void put(std::string_view path, const nlohmann::json& json, std::stop_token stop = {});
    template <class T>
    T postMultipart(std::string_view path, const MultipartForm& form, std::stop_token stop = {}) {
        return decode<T>(
            request(path, "POST", RequestBody::multipart(form), Idempotency::notIdempotent, stop)
                .body);
    }
    template <class T>
    T putMultipart(std::string_view path, const MultipartForm& form, std::stop_token stop = {}) {
        return decode<T>(
            request(path, "PUT", RequestBody::multipart(form), Idempotency::notIdempotent, stop)
                .body);
    }

    /// A request to a presigned storage URL, sent as given (no base URL, no
    /// token, no re-login; redirections as its policy says), retried as an
    /// idempotent request (a part PUT again overwrites the same part); a
    /// failed answer is storageStatusError.
    HttpResponse sendExternal(const HttpRequest& request, std::stop_token stop = {});

    /// The redirection policy for downloads from the presigned storage URLs
    /// this client's API hands out.
    RedirectPolicy storageDownloadRedirects() const;

    /// One API exchange with authentication, retries (as mayRetry says for
    /// `idempotency`), re-login and error mapping. Never follows a
    /// redirection. Returns only 2xx answers.
    HttpResponse request(std::string_view path, std::string_view method,
                         const std::optional<RequestBody>& body, Idempotency idempotency,
                         std::stop_token stop = {});

    /// The retry rule, before counting attempts. Idempotent requests (and
    /// those refused when repeated): every transport failure and every 5xx.
    /// The others only when the server certainly did nothing: a transport
    /// failure before the request was sent, 429 or 503.
    static bool mayRetry(const DriveError& error, Idempotency idempotency) noexcept;

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
    class StoreTurn;

    HttpResponse sendOnce(std::string_view path, std::string_view method,
                          const std::optional<RequestBody>& body, std::stop_token stop);
    HttpResponse sendSignIn(std::string_view path, const nlohmann::json& body,
                            std::stop_token stop);
    LoginOutcome signIn(std::string_view email, std::string_view password, std::stop_token stop);
    DriveSession checkSecondFactor(const TwoFactorChallenge& challenge, TwoFactorMethod method,
                                   std::string_view code, bool rememberDevice,
                                   std::string_view deviceLabel, std::stop_token stop);
    void backOff(int attempt, std::stop_token stop);
    void adoptSession(const DriveSession& session) CADRIO_EXCLUDES(mutex_);
    void dropSessionAfterRefusal() CADRIO_EXCLUDES(mutex_);
    std::optional<DriveSession> currentSession() const CADRIO_EXCLUDES(mutex_);
    void waitForStoreTurn() CADRIO_EXCLUDES(mutex_);
    /// Hands the turn on; makes `session` current first when `adopt`.
    void endStoreTurn(bool adopt, std::optional<DriveSession> session) CADRIO_EXCLUDES(mutex_);

    const DriveConfiguration configuration_;
    const std::shared_ptr<HTTPTransport> transport_;
    const std::shared_ptr<SessionStoring> sessionStore_;
    const std::shared_ptr<TrustedDeviceStoring> trustedDevices_;
    Clock& clock_;

    mutable Mutex mutex_;
    std::optional<DriveSession> session_ CADRIO_GUARDED_BY(mutex_);
    bool storeTurnTaken_ CADRIO_GUARDED_BY(mutex_) = false;
    std::condition_variable_any storeTurnEnded_;
};

}  // namespace cadrio
