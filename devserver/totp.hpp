#pragma once
// One-time codes of authenticator applications (RFC 6238 over RFC 4226,
// HMAC-SHA1) and the base32 form in which their secrets are exchanged
// (RFC 4648). Pure functions, safe from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadrio::devserver::totp {

inline constexpr int kStepSeconds = 30;
inline constexpr int kDigits = 6;

/// Decodes base32 (RFC 4648 alphabet, either case). Spaces, hyphens and
/// trailing "=" padding are ignored, as authenticator applications show
/// secrets in groups; absent on any other character or on leftover bits
/// that do not fit a whole byte pattern.
std::optional<std::vector<std::uint8_t>> decodeBase32(std::string_view text);

/// The HOTP value of `key` at `counter`, zero-padded to `digits` (1 to 9).
std::string hotp(const std::vector<std::uint8_t>& key, std::uint64_t counter, int digits = kDigits);

/// The code shown at `unixSeconds` (time steps counted from the epoch).
std::string codeAt(const std::vector<std::uint8_t>& key, std::int64_t unixSeconds,
                   int digits = kDigits, int stepSeconds = kStepSeconds);

/// True when `code` is the code of the step of `unixSeconds` or of one of
/// the `window` steps either side (clock drift between phone and server).
/// Compares in constant time; a code of the wrong length never matches.
bool verify(const std::vector<std::uint8_t>& key, std::string_view code, std::int64_t unixSeconds,
            int window = 1, int digits = kDigits, int stepSeconds = kStepSeconds);

}  // namespace cadrio::devserver::totp
