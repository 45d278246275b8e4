#pragma once
// The signed-in state shared by the tray application and the plug-in through
// the secret store: the account, its bearer token and the password the client
// signs in with again when the token is refused.

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace cadrio {

struct DriveSession {
    std::string account;      // "account"
    std::string accessToken;  // "accessToken"
    std::string password;     // "password"

    bool operator==(const DriveSession&) const = default;

    /// Compact JSON object with the three keys. Throws SessionEncodingError
    /// when a field is not valid UTF-8 (JSON could not carry it unchanged).
    std::string encoded() const;
    /// Reads the stored form; all three keys are required strings, other keys
    /// are ignored. Throws SessionDecodingError, also for more than
    /// kMaxStoredBytes or containers nested too deep.
    static DriveSession decoded(std::string_view bytes);

    /// Far above any real session; what is larger was not written by us.
    static constexpr std::size_t kMaxStoredBytes = 1024 * 1024;
};

/// A stored session that cannot be read. The text names what is wrong but
/// never quotes the stored bytes, which hold the token and the password.
class SessionDecodingError : public std::exception {
public:
    explicit SessionDecodingError(std::string reason)
        : message_("Session enregistrée illisible : " + std::move(reason)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// A session that cannot be written; same discretion as above.
class SessionEncodingError : public std::exception {
public:
    explicit SessionEncodingError(std::string reason)
        : message_("Session impossible à enregistrer : " + std::move(reason)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace cadrio
