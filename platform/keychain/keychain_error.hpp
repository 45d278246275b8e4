#pragma once
// Failures of the secure item store, as numeric statuses so that callers can
// tell "no such item" from real failures and tests can compare exactly.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace cadrio {

// Status values of the secure item store. The numbers follow the ones long
// used by keychain services so that a status seen in a log reads the same on
// every platform; only those listed here are produced.
namespace keychain_status {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t ioFailure = -36;           // file store: a system call failed
inline constexpr std::int32_t invalidParameter = -50;    // a key the backend cannot represent
inline constexpr std::int32_t internalFailure = -2070;   // the backend failed in another way
inline constexpr std::int32_t notAvailable = -25291;     // no secret store answers
inline constexpr std::int32_t duplicateItem = -25299;    // add: the item already exists
inline constexpr std::int32_t itemNotFound = -25300;     // the item does not exist
inline constexpr std::int32_t locked = -25308;           // the store is locked
inline constexpr std::int32_t unreadableItem = -26275;   // stored data cannot be read back
}  // namespace keychain_status

// The French text of a status, absent for a status this module never
// produces.
std::optional<std::string_view> keychainStatusText(std::int32_t status);

// Thrown by the secure item stores and the stores built on them. `message`
// is the backend's own explanation when it gave one (never secret data).
class KeychainError : public std::exception {
public:
    explicit KeychainError(std::int32_t status, std::string message = {});

    std::int32_t status() const noexcept { return status_; }
    const std::string& message() const noexcept { return message_; }

    // "Accès au trousseau impossible : " followed by what is known of the
    // failure: the status text and the backend's message, or, for a status
    // without a text, the backend's message and "code " + the number.
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t status_;
    std::string message_;
    std::string description_;
};

}  // namespace cadrio
