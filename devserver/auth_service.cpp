#include "devserver/auth_service.hpp"

#include "devserver/auth_state.hpp"
#include "devserver/totp.hpp"

#include <algorithm>
#include <stdexcept>

namespace cadrio::devserver {

namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

/// The token of an "Authorization" value "Bearer <token>" (scheme in any case).
std::optional<std::string_view> bearerToken(std::string_view header) {
    header = trimSpaces(header);
    constexpr std::string_view kScheme = "bearer";
    if (header.size() <= kScheme.size() || lowerAscii(header.substr(0, kScheme.size())) != kScheme) {
        return std::nullopt;
    }
    const char separator = header[kScheme.size()];
    if (separator != ' ' && separator != '\t') return std::nullopt;
    const std::string_view token = trimSpaces(header.substr(kScheme.size()));
    if (token.empty() || token.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
    return token;
}

AuthAccount validatedAccount(AccountSpec profile) {
    if (profile.email.empty()) throw std::invalid_argument("account without e-mail");
    AuthAccount account;
    if (!profile.totpSecretBase32.empty()) {
        auto key = totp::decodeBase32(profile.totpSecretBase32);
        if (!key || key->empty()) throw std::invalid_argument("TOTP secret is not base32");
        account.totpKey = std::move(*key);
    }
    const bool wantsTotp = std::find(profile.methods.begin(), profile.methods.end(), "totp") != profile.methods.end();
    if (wantsTotp && account.totpKey.empty()) {
        throw std::invalid_argument("account offers totp without a secret");
    }
    account.profile = std::move(profile);
    return account;
}

}  // namespace

AuthService::AuthService() : state_(std::make_unique<State>()) {
    state_->clock = [] { return std::chrono::system_clock::now(); };
}

AuthService::~AuthService() = default;

void AuthService::addAccount(AccountSpec profile) {
    AuthAccount account = validatedAccount(std::move(profile));
    const std::string key = lowerAscii(account.profile.email);
    LockGuard lock(state_->mutex);
    state_->accounts[key] = std::move(account);
}

void AuthService::reset() {
    LockGuard lock(state_->mutex);
    state_->clearAllLocked();
}

std::vector<std::string> AuthService::accounts() const {
    LockGuard lock(state_->mutex);
    std::vector<std::string> keys;
    keys.reserve(state_->accounts.size());
    for (const auto& [key, account] : state_->accounts) keys.push_back(key);
    return keys;
}

std::optional<AccountSpec> AuthService::account(std::string_view email) const {
    LockGuard lock(state_->mutex);
    const AuthAccount* found = state_->find(email);
    if (found == nullptr) return std::nullopt;
    return found->profile;
}

std::optional<std::string> AuthService::accountForAuthorization(std::string_view authorizationHeader) const {
    const auto token = bearerToken(authorizationHeader);
    if (!token) return std::nullopt;
    LockGuard lock(state_->mutex);
    const auto it = state_->accessTokens.find(std::string(*token));
    if (it == state_->accessTokens.end() || it->second.expiresAt <= state_->now()) return std::nullopt;
    return it->second.account;
}

std::string AuthService::issueAccessToken(std::string_view email) {
    LockGuard lock(state_->mutex);
    const std::string key = lowerAscii(email);
    if (state_->accounts.count(key) == 0) throw std::invalid_argument("unknown account");
    return state_->issueAccessTokenLocked(key);
}

void AuthService::setAccessTokenTTL(std::chrono::seconds ttl) {
    LockGuard lock(state_->mutex);
    state_->accessTokenTTL = ttl;
}

void AuthService::setPendingTokenTTL(std::chrono::seconds ttl) {
    LockGuard lock(state_->mutex);
    state_->pendingTokenTTL = ttl;
}

void AuthService::setClock(Clock clock) {
    LockGuard lock(state_->mutex);
    state_->clock = std::move(clock);
}

}  // namespace cadrio::devserver
