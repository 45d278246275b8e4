// POST /api/v1/auth/login-jmap and POST /api/v1/auth/2fa/verify.
//
// Each handler decides under the state's lock and fills the answer after
// releasing it; httplib writes it to the socket later.

#include "devserver/auth_http.hpp"
#include "devserver/auth_service.hpp"
#include "devserver/auth_state.hpp"
#include "devserver/totp.hpp"

#include <openssl/crypto.h>

#include <algorithm>

namespace cadrio::devserver {

namespace {

using nlohmann::json;

bool sameSecret(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool hasMethod(const AccountSpec& profile, std::string_view method) {
    return std::find(profile.methods.begin(), profile.methods.end(), method) != profile.methods.end();
}

void sendTooManyAttempts(httplib::Response& res, std::int64_t retryAfterSeconds) {
    res.set_header("Retry-After", std::to_string(retryAfterSeconds));
    sendError(res, 429, "too_many_attempts", "Trop de tentatives, réessayez plus tard.");
}

json accessAnswer(const std::string& token, const AuthAccount& account, std::chrono::seconds ttl) {
    return {{"access_token", token},
            {"token_type", "Bearer"},
            {"expires_in", ttl.count()},
            {"email", account.profile.email}};
}

bool trustedDeviceValid(const AuthState& state, const json& body, const std::string& accountKey)
    CADRIO_REQUIRES(state.mutex) {
    const auto token = stringField(body, "trusted_device_token");
    if (!token) return false;
    const auto it = state.trustedDevices.find(*token);
    return it != state.trustedDevices.end() && it->second.account == accountKey &&
           it->second.expiresAt > state.now();
}

/// Sign-in answer for a known account whose password matched.
void answerPasswordAccepted(AuthState& state, const json& body, const std::string& key,
                            const AuthAccount& account, httplib::Response& res) CADRIO_REQUIRES(state.mutex) {
    if (account.profile.methods.empty() || trustedDeviceValid(state, body, key)) {
        const std::string token = state.issueAccessTokenLocked(key);
        sendJson(res, 200, accessAnswer(token, account, state.accessTokenTTL));
        return;
    }
    const auto supports = body.find("supports_2fa");
    if (supports == body.end() || !supports->is_boolean() || !supports->get<bool>()) {
        sendError(res, 403, "two_factor_client_unsupported",
                  "Ce compte exige une double authentification que ce client ne gère pas.");
        return;
    }
    const std::string pending = state.issuePendingTokenLocked(key);
    sendJson(res, 200,
             {{"two_factor_required", true},
              {"pending_token", pending},
              {"methods", account.profile.methods},
              {"expires_in", state.pendingTokenTTL.count()},
              {"email", account.profile.email}});
}

void handleLogin(AuthState& state, const httplib::Request& req, httplib::Response& res) {
    const auto body = readJsonObject(req, res);
    if (!body) return;
    const auto email = requireString(*body, "email", res);
    if (!email) return;
    const auto password = requireString(*body, "password", res);
    if (!password) return;

    LockGuard lock(state.mutex);
    state.pruneLocked();
    const std::string key = lowerAscii(*email);
    const AuthAccount* account = state.find(key);
    if (account == nullptr) {
        sendError(res, 401, "invalid_credentials", "Adresse ou mot de passe incorrect.");
        return;
    }
    if (const auto wait = state.lockoutRemainingLocked(key); wait > 0) {
        sendTooManyAttempts(res, wait);
        return;
    }
    if (!sameSecret(*password, account->profile.password)) {
        state.recordFailureLocked(key);
        sendError(res, 401, "invalid_credentials", "Adresse ou mot de passe incorrect.");
        return;
    }
    state.clearFailuresLocked(key);
    answerPasswordAccepted(state, *body, key, *account, res);
}

/// Checks `code` by `method` and uses it up when single-use.
bool acceptCode(AuthState& state, AuthAccount& account, std::string_view method, std::string_view code)
    CADRIO_REQUIRES(state.mutex) {
    if (method == "totp") {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(state.now().time_since_epoch()).count();
        return totp::verify(account.totpKey, code, seconds);
    }
    auto& codes = account.profile.recoveryCodes;
    const std::string wanted = lowerAscii(code);
    const auto it = std::find_if(codes.begin(), codes.end(),
                                 [&](const std::string& c) { return sameSecret(lowerAscii(c), wanted); });
    if (it == codes.end()) return false;
    codes.erase(it);
    return true;
}

struct VerifyRequest {
    std::string pendingToken;
    std::string method;
    std::string code;
    bool rememberDevice = false;
    std::string deviceLabel;
};

std::optional<VerifyRequest> readVerifyRequest(const httplib::Request& req, httplib::Response& res) {
    const auto body = readJsonObject(req, res);
    if (!body) return std::nullopt;
    VerifyRequest out;
    for (auto [key, field] : {std::pair{"pending_token", &out.pendingToken},
                              std::pair{"method", &out.method}, std::pair{"code", &out.code}}) {
        auto value = requireString(*body, key, res);
        if (!value) return std::nullopt;
        *field = std::move(*value);
    }
    const auto remember = body->find("remember_device");
    out.rememberDevice = remember != body->end() && remember->is_boolean() && remember->get<bool>();
    out.deviceLabel = stringField(*body, "device_label").value_or("");
    return out;
}

void handleVerify(AuthState& state, const httplib::Request& req, httplib::Response& res) {
    const auto request = readVerifyRequest(req, res);
    if (!request) return;

    LockGuard lock(state.mutex);
    state.pruneLocked();  // an expired challenge is gone after this
    const auto challenge = state.pending.find(request->pendingToken);
    AuthAccount* account = challenge == state.pending.end() ? nullptr : state.find(challenge->second.account);
    if (account == nullptr) {
        sendError(res, 410, "two_factor_expired", "La vérification a expiré ou n'existe pas.");
        return;
    }
    const std::string key = challenge->second.account;
    if (const auto wait = state.lockoutRemainingLocked(key); wait > 0) {
        sendTooManyAttempts(res, wait);
        return;
    }
    if ((request->method != "totp" && request->method != "recovery") ||
        !hasMethod(account->profile, request->method)) {
        sendError(res, 400, "unsupported_method", "Méthode de vérification non proposée pour ce compte.");
        return;
    }
    if (!acceptCode(state, *account, request->method, request->code)) {
        state.recordFailureLocked(key);
        sendError(res, 401, "invalid_code", "Code invalide.");
        return;
    }
    state.pending.erase(challenge);
    state.clearFailuresLocked(key);
    json answer = accessAnswer(state.issueAccessTokenLocked(key), *account, state.accessTokenTTL);
    if (request->rememberDevice) {
        answer["trusted_device_token"] = state.issueTrustedDeviceLocked(key, request->deviceLabel);
    }
    sendJson(res, 200, answer);
}

}  // namespace

void AuthService::registerRoutes(httplib::Server& server) {
    AuthState& state = *state_;
    server.Post("/api/v1/auth/login-jmap",
                [&state](const httplib::Request& req, httplib::Response& res) { handleLogin(state, req, res); });
    server.Post("/api/v1/auth/2fa/verify",
                [&state](const httplib::Request& req, httplib::Response& res) { handleVerify(state, req, res); });
}

}  // namespace cadrio::devserver
