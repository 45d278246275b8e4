// Password sign-in and second-factor check: sent once each, straight through
// the transport, without bearer token, retries, re-login or redirection.

#include <algorithm>

#include "core/http/api_client.hpp"
#include "core/http/request_url.hpp"
#include "core/model/status_mapping.hpp"
#include "core/model/unicode_whitespace.hpp"
#include "core/session/sign_in_dtos.hpp"
#include "core/support/cancellation.hpp"
#include "platform/keychain/keychain_error.hpp"

namespace cadrio {
namespace {

constexpr std::int64_t kDefaultChallengeSeconds = 300;
/// A pending token never lives longer than this, whatever the server says
/// (a huge value would overflow the expiry instant).
constexpr std::int64_t kLongestChallengeSeconds = 86'400;

std::optional<TwoFactorChallenge> challengeFrom(std::string_view body, std::string_view email,
                                                std::string_view password, Clock::WallTime now) {
    TwoFactorRequiredDTO dto;
    try {
        dto = decodeTwoFactorRequired(body);
    } catch (const DriveError&) {
        return std::nullopt;  // not a challenge: read as a plain sign-in answer
    }
    if (dto.twoFactorRequired != true || !dto.pendingToken) return std::nullopt;
    const std::int64_t seconds = std::clamp<std::int64_t>(
        dto.expiresIn.value_or(kDefaultChallengeSeconds), 0, kLongestChallengeSeconds);
    return TwoFactorChallenge{
        dto.email.value_or(std::string(email)),
        dto.methods.value_or(std::vector<std::string>{}),
        now + std::chrono::seconds(seconds),
        *dto.pendingToken,
        std::string(password),
    };
}

/// The one conversion point of the sign-in operations: what they throw is
/// DriveError, KeychainError or CancellationError. A session the store
/// cannot encode is a KeychainError (invalidParameter); anything else (a
/// request body that cannot be encoded, a transport failing in a way of its
/// own) is a transport error. Texts never quote the request, which holds
/// the password.
template <class Work>
auto signInBoundary(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const DriveError&) {
        throw;
    } catch (const KeychainError&) {
        throw;
    } catch (const CancellationError&) {
        throw;
    } catch (const SessionEncodingError& error) {
        throw KeychainError(keychain_status::invalidParameter, error.what());
    } catch (const nlohmann::json::exception&) {
        throw DriveError::transport("requête de connexion impossible à former (texte non UTF-8)");
    } catch (const std::exception& error) {
        throw DriveError::transport(error.what());
    } catch (...) {
        throw DriveError::transport("échec inattendu de la connexion");
    }
}

/// Trusted-device tokens only spare the user a second factor: a store that
/// fails just means the server asks for it again.
std::optional<std::string> trustedToken(TrustedDeviceStoring& devices, const std::string& account) {
    try {
        return devices.token(account);
    } catch (...) {
        return std::nullopt;
    }
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
    return signInBoundary([&] { return signIn(email, password, stop); });
}

DriveSession ApiClient::verifyTwoFactor(const TwoFactorChallenge& challenge, TwoFactorMethod method,
                                        std::string_view code, bool rememberDevice,
                                        std::string_view deviceLabel, std::stop_token stop) {
    return signInBoundary([&] {
        return checkSecondFactor(challenge, method, code, rememberDevice, deviceLabel, stop);
    });
}

LoginOutcome ApiClient::signIn(std::string_view email, std::string_view password,
                               std::stop_token stop) {
    nlohmann::json body = {{"email", email}, {"password", password}, {"supports_2fa", true}};
    if (auto token = trustedToken(*trustedDevices_, std::string(email))) {
        body["trusted_device_token"] = *token;
    }
    const HttpResponse response = sendSignIn("/auth/login-jmap", body, stop);
    if (!response.isSuccess()) throw authStatusError(response.status, response.body);

    if (auto challenge = challengeFrom(response.body, email, password, clock_.wallNow())) {
        return LoginOutcome{std::move(*challenge)};
    }
    const LoginResponseDTO granted = decodeLoginResponse(response.body);
    DriveSession session{granted.email.value_or(std::string(email)), granted.accessToken,
                         std::string(password)};
    adoptSession(session);
    return LoginOutcome{std::move(session)};
}

DriveSession ApiClient::checkSecondFactor(const TwoFactorChallenge& challenge,
                                          TwoFactorMethod method, std::string_view code,
                                          bool rememberDevice, std::string_view deviceLabel,
                                          std::stop_token stop) {
    const nlohmann::json body = {
        {"pending_token", challenge.pendingToken},
        {"method", rawValue(method)},
        {"code", trimmedUnicodeWhitespace(code)},
        {"remember_device", rememberDevice},
        {"device_label", deviceLabel},
    };
    const HttpResponse response = sendSignIn("/auth/2fa/verify", body, stop);
    if (!response.isSuccess()) {
        throw twoFactorStatusError(response.status, response.body,
                                   response.header("X-Drive-Conflict"));
    }
    const TwoFactorVerifyDTO verified = decodeTwoFactorVerify(response.body);
    if (verified.trustedDeviceToken && !verified.trustedDeviceToken->empty()) {
        try {
            trustedDevices_->save(*verified.trustedDeviceToken, challenge.account);
        } catch (...) {
            // Only costs a second factor at the next sign-in.
        }
    }
    DriveSession session{verified.email.value_or(challenge.account), verified.accessToken,
                         challenge.password};
    adoptSession(session);
    return session;
}

}  // namespace cadrio
