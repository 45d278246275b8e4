// Password sign-in and second-factor check: sent once each, straight through
// the transport, without bearer token, retries or re-login.

#include "core/http/api_client.hpp"
#include "core/http/request_url.hpp"
#include "core/model/status_mapping.hpp"
#include "core/session/sign_in_dtos.hpp"

namespace cadrio {
namespace {

constexpr std::int64_t kDefaultChallengeSeconds = 300;

std::string_view trimmedWhitespace(std::string_view text) {
    constexpr std::string_view kWhitespace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

std::optional<TwoFactorChallenge> challengeFrom(std::string_view body, std::string_view email,
                                                std::string_view password) {
    TwoFactorRequiredDTO dto;
    try {
        dto = decodeTwoFactorRequired(body);
    } catch (const DriveError&) {
        return std::nullopt;  // not a challenge: read as a plain sign-in answer
    }
    if (dto.twoFactorRequired != true || !dto.pendingToken) return std::nullopt;
    const auto lifetime = std::chrono::seconds(dto.expiresIn.value_or(kDefaultChallengeSeconds));
    return TwoFactorChallenge{
        dto.email.value_or(std::string(email)),
        dto.methods.value_or(std::vector<std::string>{}),
        std::chrono::system_clock::now() + lifetime,
        *dto.pendingToken,
        std::string(password),
    };
}

}  // namespace

HttpResponse ApiClient::sendSignIn(std::string_view path, const nlohmann::json& body,
                                   std::stop_token stop) {
    HttpRequest request;
    request.url = joinAPIURL(configuration_.apiBaseURL, path);
    request.method = "POST";
    request.timeoutSeconds = configuration_.requestTimeout;
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = body.dump();
    return transport_->send(request, stop);
}

LoginOutcome ApiClient::login(std::string_view email, std::string_view password,
                              std::stop_token stop) {
    nlohmann::json body = {{"email", email}, {"password", password}, {"supports_2fa", true}};
    if (auto token = trustedDevices_->token(std::string(email))) {
        body["trusted_device_token"] = *token;
    }
    const HttpResponse response = sendSignIn("/auth/login-jmap", body, stop);
    if (!response.isSuccess()) throw authStatusError(response.status, response.body);

    if (auto challenge = challengeFrom(response.body, email, password)) {
        return LoginOutcome{std::move(*challenge)};
    }
    const LoginResponseDTO granted = decodeLoginResponse(response.body);
    DriveSession session{granted.email.value_or(std::string(email)), granted.accessToken,
                         std::string(password)};
    adoptSession(session);
    return LoginOutcome{std::move(session)};
}

DriveSession ApiClient::verifyTwoFactor(const TwoFactorChallenge& challenge, TwoFactorMethod method,
                                        std::string_view code, bool rememberDevice,
                                        std::string_view deviceLabel, std::stop_token stop) {
    const nlohmann::json body = {
        {"pending_token", challenge.pendingToken},
        {"method", rawValue(method)},
        {"code", trimmedWhitespace(code)},
        {"remember_device", rememberDevice},
        {"device_label", deviceLabel},
    };
    const HttpResponse response = sendSignIn("/auth/2fa/verify", body, stop);
    if (!response.isSuccess()) {
        if (response.status == 401 || response.status == 410 || response.status == 429) {
            throw twoFactorStatusError(response.status, response.body);
        }
        throw statusError(response.status, response.body, response.header("X-Drive-Conflict"));
    }
    const TwoFactorVerifyDTO verified = decodeTwoFactorVerify(response.body);
    if (verified.trustedDeviceToken && !verified.trustedDeviceToken->empty()) {
        trustedDevices_->save(*verified.trustedDeviceToken, challenge.account);
    }
    DriveSession session{verified.email.value_or(challenge.account), verified.accessToken,
                         challenge.password};
    adoptSession(session);
    return session;
}

}  // namespace cadrio
