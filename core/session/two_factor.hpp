#pragma once
// What a password sign-in can lead to: a session at once, or a second-factor
// challenge that the user answers with a code.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/model/date.hpp"
#include "core/session/drive_session.hpp"

namespace cadrio {

enum class TwoFactorMethod { totp, recovery };

inline std::string_view rawValue(TwoFactorMethod method) {
    return method == TwoFactorMethod::totp ? "totp" : "recovery";
}

inline std::optional<TwoFactorMethod> twoFactorMethodFromRawValue(std::string_view text) {
    if (text == "totp") return TwoFactorMethod::totp;
    if (text == "recovery") return TwoFactorMethod::recovery;
    return std::nullopt;
}

struct TwoFactorChallenge {
    std::string account;               // the server's address, else the one typed
    std::vector<std::string> methods;  // as the server listed them
    Date expiresAt{};
    std::string pendingToken;
    std::string password;              // kept to build the session after the check

    bool operator==(const TwoFactorChallenge&) const = default;

    bool acceptsAuthenticatorCode() const { return contains("totp"); }
    bool acceptsRecoveryCode() const { return contains("recovery"); }
    /// False for accounts whose only second factor is a hardware or platform key.
    bool acceptsAnyCode() const { return acceptsAuthenticatorCode() || acceptsRecoveryCode(); }

private:
    bool contains(std::string_view method) const {
        return std::find(methods.begin(), methods.end(), method) != methods.end();
    }
};

/// signedIn (a DriveSession) or twoFactorRequired (a TwoFactorChallenge).
struct LoginOutcome {
    std::variant<DriveSession, TwoFactorChallenge> value;

    bool operator==(const LoginOutcome&) const = default;

    bool isSignedIn() const { return std::holds_alternative<DriveSession>(value); }
    const DriveSession* session() const { return std::get_if<DriveSession>(&value); }
    const TwoFactorChallenge* challenge() const { return std::get_if<TwoFactorChallenge>(&value); }
};

}  // namespace cadrio
