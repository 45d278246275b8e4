#pragma once
// How failed HTTP answers become DriveError values. Defined once here so that
// every operation maps the same answer to the same case; each boundary that
// receives answers (API requests, storage requests, the sign-in pair, the
// event stream) calls exactly one of these. A redirection is never followed
// for the API, so a 3xx lands here like any other status. Pure functions.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/model/drive_error.hpp"
#include "core/model/utf8_text.hpp"

namespace cadrio {

/// Excerpt lengths kept in `DriveError::http` bodies.
inline constexpr std::size_t kApiBodyExcerptLimit = 500;
inline constexpr std::size_t kStorageBodyExcerptLimit = 300;

/// The first `limit` bytes of `body` when they are valid UTF-8 (shortest
/// forms only, no surrogates, nothing above U+10FFFF); otherwise, including
/// when the limit cuts a character, the empty text.
std::string bodyExcerpt(std::string_view body, std::size_t limit = kApiBodyExcerptLimit);

/// The generic mapping of a non-2xx drive API answer. `conflictHeader` is the
/// value of "X-Drive-Conflict" (absent when the header is missing); it is
/// compared after trimming spaces and tabs and lower-casing. `excerptLimit`
/// is the body excerpt length kept in `http` cases.
DriveError statusError(int status, std::string_view body,
                       const std::optional<std::string>& conflictHeader = std::nullopt,
                       std::size_t excerptLimit = kApiBodyExcerptLimit);

/// The mapping of the answer to a password sign-in: 429 is tooManyAttempts,
/// a 403 whose body mentions "two_factor_client_unsupported" is
/// twoFactorClientUnsupported, everything else the generic mapping.
DriveError authStatusError(int status, std::string_view body);

/// The mapping of the answer to a second-factor code check: 429
/// tooManyAttempts, 410 twoFactorExpired, 401 twoFactorInvalidCode, else the
/// generic mapping (with the conflict header).
DriveError twoFactorStatusError(int status, std::string_view body,
                                const std::optional<std::string>& conflictHeader = std::nullopt);

/// A failed answer of the storage service behind a presigned URL: always
/// `http`, with a kStorageBodyExcerptLimit excerpt (its statuses mean
/// nothing to the drive's own cases).
DriveError storageStatusError(int status, std::string_view body);

/// A refused event-stream connection: 401 and 403 notAuthenticated, a status
/// outside 100-599 transport("réponse non HTTP"), any other http(status,
/// "flux") (the body is never read).
DriveError eventStreamStatusError(int status);

/// The change feed's view of an error: `http` 410 becomes cursorExpired,
/// everything else is returned unchanged.
DriveError changeFeedError(const DriveError& error);

}  // namespace cadrio
