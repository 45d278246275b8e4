#pragma once
// Internal state of AuthService, shared by its translation units (public
// members, sign-in routes, admin routes). Not for use outside auth_*.cpp.
//
// Every field below `mutex` is guarded by it. Handlers take the lock, decide,
// release it and only then let the server write the answer.

#include "devserver/auth_service.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
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

    mutable std::mutex mutex;
    Clock clock;
    std::chrono::seconds accessTokenTTL{AuthService::kDefaultAccessTokenTTL};
    std::chrono::seconds pendingTokenTTL{AuthService::kDefaultPendingTokenTTL};
    std::map<std::string, AuthAccount> accounts;   // key: lower-cased e-mail
    std::unordered_map<std::string, AccessTokenRecord> accessTokens;
    std::unordered_map<std::string, PendingChallenge> pending;
    std::unordered_map<std::string, TrustedDevice> trustedDevices;
    std::map<std::string, FailureRecord> failures;  // only for known accounts

    // The helpers below expect `mutex` to be held by the caller.
    TimePoint now() const { return clock(); }
    const AuthAccount* find(std::string_view email) const;
    AuthAccount* find(std::string_view email);
    std::string issueAccessTokenLocked(const std::string& accountKey);
    std::string issuePendingTokenLocked(const std::string& accountKey);
    std::string issueTrustedDeviceLocked(const std::string& accountKey, std::string label);
    /// Seconds left of the lock-out of `accountKey`, 0 when not locked.
    std::int64_t lockoutRemainingLocked(const std::string& accountKey);
    void recordFailureLocked(const std::string& accountKey);
    void clearFailuresLocked(const std::string& accountKey);
    /// Drops expired access, pending and trusted-device tokens, so that a
    /// long-running server does not accumulate them.
    void pruneLocked();
    void clearAllLocked();
};

// The service's private state is the shared one; free functions of the
// routes take it as AuthState.
struct AuthService::State : AuthState {};

}  // namespace cadrio::devserver
