#pragma once
// Accounts and sign-in of the development server: passwords, second factor
// (TOTP, recovery codes), access tokens, pending second-factor tokens,
// trusted-device tokens and the rate limit on failed attempts.
//
// Thread safety: every public member may be called from any server thread;
// one internal mutex guards all state and is never held while writing to a
// socket.
//
// Rate limit: after kMaxFailedAttempts consecutive wrong passwords or codes
// for one account, every sign-in and verification of that account answers
// 429 for kLockout (or until the admin route resets it). Unknown addresses
// are not tracked, so they cannot fill the table.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Server;
}

namespace cadrio::devserver {

struct AccountSpec {
    std::string email;     // compared case-insensitively
    std::string password;
    std::vector<std::string> methods;   // second-factor methods: "totp", "recovery", "webauthn"; empty: none
    std::string totpSecretBase32;       // empty when the account has no TOTP
    std::vector<std::string> recoveryCodes;  // single-use
    double quotaMaxMegabytes = 10240;
};

class AuthService {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr int kMaxFailedAttempts = 5;
    static constexpr std::chrono::seconds kLockout{300};
    static constexpr std::chrono::seconds kDefaultAccessTokenTTL{3600};
    static constexpr std::chrono::seconds kDefaultPendingTokenTTL{300};
    static constexpr std::chrono::seconds kTrustedDeviceTTL{30 * 24 * 3600};

    AuthService();
    ~AuthService();
    AuthService(const AuthService&) = delete;
    AuthService& operator=(const AuthService&) = delete;

    /// Adds or replaces an account (keyed by lower-cased e-mail). Tokens
    /// already issued for it stay valid. Throws std::invalid_argument for an
    /// empty e-mail, a TOTP secret that is not base32, or "totp" among the
    /// methods without a secret.
    void addAccount(AccountSpec profile);
    /// Forgets every account and token.
    void reset();
    /// Lower-cased e-mails of the known accounts.
    std::vector<std::string> accounts() const;
    std::optional<AccountSpec> account(std::string_view email) const;

    /// The account (lower-cased e-mail) of a valid, unexpired access token
    /// taken from an "Authorization: Bearer <token>" header value; absent when
    /// the header is malformed, the token unknown or expired.
    std::optional<std::string> accountForAuthorization(std::string_view authorizationHeader) const;

    /// Issues an access token for an account directly (tests and admin).
    /// Throws std::invalid_argument for an unknown account.
    std::string issueAccessToken(std::string_view email);

    /// Lifetime of newly issued access tokens (default one hour).
    void setAccessTokenTTL(std::chrono::seconds ttl);
    /// Lifetime of newly issued pending second-factor tokens (default 300 s).
    void setPendingTokenTTL(std::chrono::seconds ttl);
    /// Time source of every expiry, rate limit and authenticator code
    /// (default: the system clock). Tests pass a virtual one.
    void setClock(Clock clock);

    /// POST /api/v1/auth/login-jmap and POST /api/v1/auth/2fa/verify. The
    /// routes use this object: it must outlive the server's request threads.
    void registerRoutes(httplib::Server& server);
    /// Admin routes under /_admin/auth/ (expire tokens, set TTLs, list codes).
    void registerAdminRoutes(httplib::Server& server);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cadrio::devserver
