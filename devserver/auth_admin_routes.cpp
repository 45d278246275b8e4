// Admin routes under /_admin/auth/ for tests and demos. Bodies are JSON
// objects; "email" selects one account where a route accepts it, and its
// absence means every account.

#include "devserver/auth_http.hpp"
#include "devserver/auth_service.hpp"
#include "devserver/auth_state.hpp"
#include "devserver/totp.hpp"

namespace cadrio::devserver {

namespace {

using nlohmann::json;
using Handler = std::function<void(AuthState&, const json&, httplib::Response&)>;

/// Erases the entries of the token table `map` that belong to `email`
/// (every entry when absent) and answers how many went.
template <typename Map>
void expireFor(AuthState& state, Map AuthState::*map, const json& body, httplib::Response& res) {
    const auto email = stringField(body, "email");
    const std::string key = email ? lowerAscii(*email) : std::string();
    std::size_t count = 0;
    {
        LockGuard lock(state.mutex);
        count = std::erase_if(state.*map, [&](const auto& e) { return !email || e.second.account == key; });
    }
    sendJson(res, 200, {{"expired", count}});
}

/// Reads {"seconds": n} with 1 <= n <= one year.
std::optional<std::chrono::seconds> readSeconds(const json& body, httplib::Response& res) {
    const auto it = body.find("seconds");
    if (it == body.end() || !it->is_number_integer() || it->get<std::int64_t>() < 1 ||
        it->get<std::int64_t>() > 365LL * 24 * 3600) {
        sendError(res, 400, "invalid_seconds", "\"seconds\" doit être un entier de 1 à 31536000.");
        return std::nullopt;
    }
    return std::chrono::seconds(it->get<std::int64_t>());
}

void expireAccessTokens(AuthState& state, const json& body, httplib::Response& res) {
    if (const auto token = stringField(body, "token")) {
        LockGuard lock(state.mutex);
        sendJson(res, 200, {{"expired", state.accessTokens.erase(*token)}});
        return;
    }
    expireFor(state, &AuthState::accessTokens, body, res);
}

void setTTL(AuthState& state, std::chrono::seconds AuthState::*field, const json& body,
            httplib::Response& res) {
    const auto seconds = readSeconds(body, res);
    if (!seconds) return;
    {
        LockGuard lock(state.mutex);
        state.*field = *seconds;
    }
    sendJson(res, 200, {{"seconds", seconds->count()}});
}

void resetRateLimit(AuthState& state, const json& body, httplib::Response& res) {
    const auto email = stringField(body, "email");
    {
        LockGuard lock(state.mutex);
        if (email) {
            state.failures.erase(lowerAscii(*email));
        } else {
            state.failures.clear();
        }
    }
    sendJson(res, 200, json::object());
}

void issueToken(AuthState& state, const json& body, httplib::Response& res) {
    const auto email = requireString(body, "email", res);
    if (!email) return;
    LockGuard lock(state.mutex);
    const std::string key = lowerAscii(*email);
    if (state.find(key) == nullptr) {
        sendError(res, 404, "unknown_account", "Compte inconnu.");
        return;
    }
    sendJson(res, 200, {{"access_token", state.issueAccessTokenLocked(key)},
                        {"expires_in", state.accessTokenTTL.count()}});
}

void setPassword(AuthState& state, const json& body, httplib::Response& res) {
    const auto email = requireString(body, "email", res);
    if (!email) return;
    const auto password = requireString(body, "password", res);
    if (!password) return;
    LockGuard lock(state.mutex);
    AuthAccount* account = state.find(*email);
    if (account == nullptr) {
        sendError(res, 404, "unknown_account", "Compte inconnu.");
        return;
    }
    account->profile.password = *password;
    sendJson(res, 200, json::object());
}

/// GET: the code an authenticator shows now and the unused recovery codes.
void listCodes(AuthState& state, const httplib::Request& req, httplib::Response& res) {
    LockGuard lock(state.mutex);
    const AuthAccount* account = state.find(req.get_param_value("email"));
    if (account == nullptr) {
        sendError(res, 404, "unknown_account", "Compte inconnu.");
        return;
    }
    json answer = {{"email", account->profile.email}, {"recovery_codes", account->profile.recoveryCodes}};
    if (!account->totpKey.empty()) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(state.now().time_since_epoch()).count();
        answer["totp"] = totp::codeAt(account->totpKey, seconds);
    }
    sendJson(res, 200, answer);
}

}  // namespace

void AuthService::registerAdminRoutes(httplib::Server& server) {
    AuthState& state = *state_;
    const std::pair<const char*, Handler> posts[] = {
        {"/_admin/auth/expire-access-tokens", expireAccessTokens},
        {"/_admin/auth/expire-pending-tokens",
         [](AuthState& s, const json& b, httplib::Response& r) { expireFor(s, &AuthState::pending, b, r); }},
        {"/_admin/auth/forget-trusted-devices",
         [](AuthState& s, const json& b, httplib::Response& r) { expireFor(s, &AuthState::trustedDevices, b, r); }},
        {"/_admin/auth/access-token-ttl",
         [](AuthState& s, const json& b, httplib::Response& r) { setTTL(s, &AuthState::accessTokenTTL, b, r); }},
        {"/_admin/auth/pending-token-ttl",
         [](AuthState& s, const json& b, httplib::Response& r) { setTTL(s, &AuthState::pendingTokenTTL, b, r); }},
        {"/_admin/auth/reset-rate-limit", resetRateLimit},
        {"/_admin/auth/access-token", issueToken},
        {"/_admin/auth/password", setPassword},
    };
    for (const auto& [path, handler] : posts) {
        server.Post(path, [&state, handler = handler](const httplib::Request& req, httplib::Response& res) {
            if (const auto body = readJsonObject(req, res, /*emptyIsObject=*/true)) handler(state, *body, res);
        });
    }
    server.Get("/_admin/auth/codes",
               [&state](const httplib::Request& req, httplib::Response& res) { listCodes(state, req, res); });
}

}  // namespace cadrio::devserver
