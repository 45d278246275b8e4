#include "devserver/auth_state.hpp"

#include <openssl/rand.h>

#include <stdexcept>

namespace cadrio::devserver {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string randomToken(std::size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
        throw std::runtime_error("random generator failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char b : raw) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    }
    return out;
}

const AuthAccount* AuthState::find(std::string_view email) const {
    const auto it = accounts.find(lowerAscii(email));
    return it == accounts.end() ? nullptr : &it->second;
}

AuthAccount* AuthState::find(std::string_view email) {
    const auto it = accounts.find(lowerAscii(email));
    return it == accounts.end() ? nullptr : &it->second;
}

std::string AuthState::issueAccessTokenLocked(const std::string& accountKey) {
    std::string token = randomToken();
    accessTokens[token] = {accountKey, now() + accessTokenTTL};
    return token;
}

std::string AuthState::issuePendingTokenLocked(const std::string& accountKey) {
    std::string token = randomToken();
    pending[token] = {accountKey, now() + pendingTokenTTL};
    return token;
}

std::string AuthState::issueTrustedDeviceLocked(const std::string& accountKey,
                                                         std::string label) {
    std::string token = randomToken();
    trustedDevices[token] = {accountKey, std::move(label), now() + kTrustedDeviceTTL};
    return token;
}

std::int64_t AuthState::lockoutRemainingLocked(const std::string& accountKey) {
    const auto it = failures.find(accountKey);
    if (it == failures.end()) return 0;
    const auto left = it->second.lockedUntil - now();
    if (left <= TimePoint::duration::zero()) {
        if (it->second.consecutive >= kMaxFailedAttempts) failures.erase(it);  // lock served
        return 0;
    }
    // Rounded up, so a client that waits as told is not refused again.
    return std::chrono::ceil<std::chrono::seconds>(left).count();
}

void AuthState::recordFailureLocked(const std::string& accountKey) {
    FailureRecord& record = failures[accountKey];
    if (++record.consecutive >= kMaxFailedAttempts) record.lockedUntil = now() + kLockout;
}

void AuthState::clearFailuresLocked(const std::string& accountKey) {
    failures.erase(accountKey);
}

namespace {

template <typename Map>
void eraseExpired(Map& map, TimePoint now) {
    std::erase_if(map, [now](const auto& entry) { return entry.second.expiresAt <= now; });
}

}  // namespace

void AuthState::pruneLocked() {
    const TimePoint t = now();
    eraseExpired(accessTokens, t);
    eraseExpired(pending, t);
    eraseExpired(trustedDevices, t);
}

void AuthState::clearAllLocked() {
    accounts.clear();
    accessTokens.clear();
    pending.clear();
    trustedDevices.clear();
    failures.clear();
}

}  // namespace cadrio::devserver
