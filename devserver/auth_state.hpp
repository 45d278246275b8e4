#pragma once
// Internal state of AuthService, shared by its translation units (public
// members, sign-in routes, admin routes). Not for use outside auth_*.cpp.
//
// Every field below `mutex` is guarded by it. Handlers take the lock, decide,
// release it and only then let the server write the answer. Free functions
// of the routes that expect the lock say so with CADRIO_REQUIRES(state.mutex).

#include "core/support/thread_annotations.hpp"
#include "devserver/auth_service.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cadrio::devserver {

using TimePoint = std::chrono::system_clock::time_point;

/// ASCII lower case: the key of an account.
std::string lowerAscii(std::string_view text);

/// `bytes` bytes from the system's cryptographic generator, hex-encoded.
/// Throws std::runtime_error when the generator fails.
std::string randomToken(std::size_t bytes = 32);

struct AuthAccount {
    AccountSpec profile;                    // recoveryCodes shrink as codes are used
    std::vector<std::uint8_t> totpKey;   // decoded profile.totpSecretBase32
};

struct AccessTokenRecord {
    std::string account;
    TimePoint expiresAt;
};

struct PendingChallenge {
    std::string account;
    TimePoint expiresAt;
};

struct TrustedDevice {
    std::string account;
    std::string label;
    TimePoint expiresAt;
};

struct FailureRecord {
    int consecutive = 0;
    TimePoint lockedUntil{};   // in the past when not locked
};

struct AuthState {
    using Clock = AuthService::Clock;
    static constexpr auto kMaxFailedAttempts = AuthService::kMaxFailedAttempts;
    static constexpr auto kLockout = AuthService::kLockout;
    static constexpr auto kTrustedDeviceTTL = AuthService::kTrustedDeviceTTL;

    mutable Mutex mutex;
    Clock clock CADRIO_GUARDED_BY(mutex);
    std::chrono::seconds accessTokenTTL CADRIO_GUARDED_BY(mutex){AuthService::kDefaultAccessTokenTTL};
    std::chrono::seconds pendingTokenTTL CADRIO_GUARDED_BY(mutex){AuthService::kDefaultPendingTokenTTL};
    std::map<std::string, AuthAccount> accounts CADRIO_GUARDED_BY(mutex);  // key: lower-cased e-mail
    std::unordered_map<std::string, AccessTokenRecord> accessTokens CADRIO_GUARDED_BY(mutex);
    std::unordered_map<std::string, PendingChallenge> pending CADRIO_GUARDED_BY(mutex);
    std::unordered_map<std::string, TrustedDevice> trustedDevices CADRIO_GUARDED_BY(mutex);
    std::map<std::string, FailureRecord> failures CADRIO_GUARDED_BY(mutex);  // only for known accounts

    TimePoint now() const CADRIO_REQUIRES(mutex) { return clock(); }
    const AuthAccount* find(std::string_view email) const CADRIO_REQUIRES(mutex);
    AuthAccount* find(std::string_view email) CADRIO_REQUIRES(mutex);
    std::string issueAccessTokenLocked(const std::string& accountKey) CADRIO_REQUIRES(mutex);
    std::string issuePendingTokenLocked(const std::string& accountKey) CADRIO_REQUIRES(mutex);
    std::string issueTrustedDeviceLocked(const std::string& accountKey, std::string label) CADRIO_REQUIRES(mutex);
    /// Seconds left of the lock-out of `accountKey`, 0 when not locked.
    std::int64_t lockoutRemainingLocked(const std::string& accountKey) CADRIO_REQUIRES(mutex);
    void recordFailureLocked(const std::string& accountKey) CADRIO_REQUIRES(mutex);
    void clearFailuresLocked(const std::string& accountKey) CADRIO_REQUIRES(mutex);
    /// Drops expired access, pending and trusted-device tokens, so that a
    /// long-running server does not accumulate them.
    void pruneLocked() CADRIO_REQUIRES(mutex);
    void clearAllLocked() CADRIO_REQUIRES(mutex);
};

// The service's private state is the shared one; free functions of the
// routes take it as AuthState.
struct AuthService::State : AuthState {};

}  // namespace cadrio::devserver
