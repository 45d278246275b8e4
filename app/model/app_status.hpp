#pragma once

// The state of the session as the menu shows it.

#include <optional>
#include <string>

#include "core/session/two_factor.hpp"

namespace cadrio::app {

class AppStatus {
public:
    enum class Kind { signedOut, connecting, ready, twoFactor, failed };

    static AppStatus signedOut() { return AppStatus(Kind::signedOut); }
    static AppStatus connecting() { return AppStatus(Kind::connecting); }
    static AppStatus ready() { return AppStatus(Kind::ready); }
    static AppStatus twoFactor(TwoFactorChallenge challenge) {
        AppStatus status(Kind::twoFactor);
        status.challenge_ = std::move(challenge);
        return status;
    }
    /// `message` is shown to the user as it is.
    static AppStatus failed(std::string message) {
        AppStatus status(Kind::failed);
        status.message_ = std::move(message);
        return status;
    }

    Kind kind() const noexcept { return kind_; }
    /// Set for twoFactor only.
    const std::optional<TwoFactorChallenge>& challenge() const noexcept { return challenge_; }
    /// Empty unless failed.
    const std::string& message() const noexcept { return message_; }

    bool operator==(const AppStatus&) const = default;

private:
    explicit AppStatus(Kind kind) : kind_(kind) {}
    Kind kind_;
    std::optional<TwoFactorChallenge> challenge_;
    std::string message_;
};

}  // namespace cadrio::app
