#pragma once
// Wire forms of the sign-in answers that carry more than an access token.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/wire_decoding.hpp"

namespace cadrio {

/// The answer to a password sign-in when the account asks for a second factor.
struct TwoFactorRequiredDTO {
    std::optional<bool> twoFactorRequired;        // "two_factor_required"
    std::optional<std::string> pendingToken;      // "pending_token"
    std::optional<std::vector<std::string>> methods;  // "methods"
    std::optional<std::int64_t> expiresIn;        // "expires_in", seconds
    std::optional<std::string> email;             // "email"
};

/// The answer to a second-factor check.
struct TwoFactorVerifyDTO {
    std::string accessToken;                       // "access_token", required
    std::optional<std::string> email;              // "email"
    std::optional<std::string> trustedDeviceToken;  // "trusted_device_token"
};

TwoFactorRequiredDTO decodeTwoFactorRequired(std::string_view body);
TwoFactorVerifyDTO decodeTwoFactorVerify(std::string_view body);

template <>
struct WireDecoder<TwoFactorRequiredDTO> {
    static TwoFactorRequiredDTO decode(std::string_view body) { return decodeTwoFactorRequired(body); }
};
template <>
struct WireDecoder<TwoFactorVerifyDTO> {
    static TwoFactorVerifyDTO decode(std::string_view body) { return decodeTwoFactorVerify(body); }
};

}  // namespace cadrio
