#pragma once
// The errors a plug-in hands to the host: a domain, a code and a text, as
// the framework's error objects carry them. The host decides what to do from
// the domain and code alone (retry, re-list, give up, tell the user); the
// description is for logs and for the user.

#include <cstdint>
#include <exception>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

namespace cadrio::fileprovider {

inline constexpr std::string_view kFileProviderErrorDomain = "NSFileProviderErrorDomain";
inline constexpr std::string_view kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::string_view kPosixErrorDomain = "NSPOSIXErrorDomain";
/// Exceptions that carry no error of the framework, wrapped as they are.
inline constexpr std::string_view kForeignErrorDomain = "cadrio.exception";

enum class FileProviderErrorCode : std::int64_t {
    notAuthenticated = -1000,
    syncAnchorExpired = -1002,
    insufficientQuota = -1003,
    serverUnreachable = -1004,
    noSuchItem = -1005,
    deletionRejected = -1006,
    cannotSynchronize = -2005,
    excludedFromSync = -2010,
};

enum class CocoaErrorCode : std::int64_t {
    fileWriteNoPermission = 513,
    userCancelled = 3072,
    featureUnsupported = 3328,
};

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string description;

    /// An error of the file-provider domain; an empty description takes the
    /// code's standard text.
    static Error fileProvider(FileProviderErrorCode code, std::string description = {});
    static Error cocoa(CocoaErrorCode code, std::string description = {});
    /// An errno value; an empty description takes the system's text.
    static Error posix(int errnoValue, std::string description = {});

    static Error notAuthenticated() { return fileProvider(FileProviderErrorCode::notAuthenticated); }
    static Error syncAnchorExpired() { return fileProvider(FileProviderErrorCode::syncAnchorExpired); }
    static Error insufficientQuota() { return fileProvider(FileProviderErrorCode::insufficientQuota); }
    static Error serverUnreachable() { return fileProvider(FileProviderErrorCode::serverUnreachable); }
    static Error noSuchItem() { return fileProvider(FileProviderErrorCode::noSuchItem); }
    static Error cannotSynchronize() { return fileProvider(FileProviderErrorCode::cannotSynchronize); }
    static Error excludedFromSync() { return fileProvider(FileProviderErrorCode::excludedFromSync); }
    static Error userCancelled() { return cocoa(CocoaErrorCode::userCancelled); }
    static Error featureUnsupported(std::string description = {}) {
        return cocoa(CocoaErrorCode::featureUnsupported, std::move(description));
    }

    bool is(FileProviderErrorCode c) const noexcept;
    bool is(CocoaErrorCode c) const noexcept;

    bool operator==(const Error&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Error& error);

/// The standard text of a code; empty for codes this layer does not name.
std::string_view standardDescription(std::string_view domain, std::int64_t code);

/// An Error thrown where an entry point answers by throwing (enumerator
/// creation). what() is the description.
class ErrorException : public std::exception {
public:
    explicit ErrorException(Error error) : error_(std::move(error)) {}
    const Error& error() const noexcept { return error_; }
    const char* what() const noexcept override { return error_.description.c_str(); }

private:
    Error error_;
};

/// The error of an exception: the carried Error of an ErrorException;
/// errno values (std::system_error and std::filesystem::filesystem_error
/// of the generic or system category) in the POSIX domain with what() as
/// text; anything else in kForeignErrorDomain with code 0.
Error errorFromException(std::exception_ptr exception);

}  // namespace cadrio::fileprovider
