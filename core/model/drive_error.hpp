#pragma once
// The one error of network and drive logic. Thrown as an exception by the
// HTTP client, the drive operations and the sign-in flow; the application
// shows `errorDescription()` verbatim to the user.
//
// A value type: copyable, comparable, safe to share between threads once
// built (all members are const after construction).

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace cadrio {

class DriveError : public std::exception {
public:
    /// The cases, in their canonical order.
    enum class Kind {
        http,                        // status + body excerpt
        transport,                   // text: why the exchange failed
        decoding,                    // text: why the response is unreadable
        notAuthenticated,
        notFound,
        insufficientQuota,
        payloadTooLarge,
        reinforced,
        locked,
        versionConflict,
        archived,
        cursorExpired,
        twoFactorInvalidCode,
        twoFactorExpired,
        tooManyAttempts,
        twoFactorClientUnsupported,
    };

    static DriveError http(int status, std::string body);
    static DriveError transport(std::string text);
    /// A transport failure before any byte of the request went out (name
    /// resolution, connection, TLS handshake): the server cannot have acted
    /// on the request, so even one that must not run twice may be sent again.
    static DriveError transportBeforeSending(std::string text);
    static DriveError decoding(std::string text);
    static DriveError notAuthenticated();
    static DriveError notFound();
    static DriveError insufficientQuota();
    static DriveError payloadTooLarge();
    static DriveError reinforced();
    static DriveError locked();
    static DriveError versionConflict();
    static DriveError archived();
    static DriveError cursorExpired();
    static DriveError twoFactorInvalidCode();
    static DriveError twoFactorExpired();
    static DriveError tooManyAttempts();
    static DriveError twoFactorClientUnsupported();

    /// Any case without payload; `kind` must not be http, transport or decoding
    /// (those throw std::invalid_argument).
    static DriveError of(Kind kind);

    Kind kind() const noexcept { return kind_; }
    /// The HTTP status of an `http` error; 0 for every other case.
    int status() const noexcept { return status_; }
    /// The body excerpt of `http`, the text of `transport` and `decoding`;
    /// empty for every other case.
    const std::string& text() const noexcept { return text_; }

    /// The exact French message shown to the user; never empty.
    const std::string& errorDescription() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    /// Every `transport` error, and `http` with a status of 500 or more.
    bool isRetryable() const noexcept;

    /// True for a `transport` error made by transportBeforeSending. Neither
    /// part of the message nor of equality.
    bool requestNeverSent() const noexcept { return requestNeverSent_; }

    /// Same case and, for http / transport / decoding, same payload.
    bool operator==(const DriveError& other) const noexcept {
        return kind_ == other.kind_ && status_ == other.status_ && text_ == other.text_;
    }

private:
    DriveError(Kind kind, int status, std::string text, bool requestNeverSent = false);

    Kind kind_;
    int status_ = 0;
    std::string text_;
    std::string message_;
    bool requestNeverSent_ = false;
};

/// The case name as written in code ("http", "notFound", ...), for logs and tests.
std::string_view kindName(DriveError::Kind kind);

}  // namespace cadrio
