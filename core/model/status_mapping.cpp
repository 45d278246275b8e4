#include "core/model/status_mapping.hpp"

#include "core/model/ascii_text.hpp"
#include "core/model/utf8_text.hpp"

namespace cadrio {
namespace {

DriveError conflictError(std::string_view body, const std::optional<std::string>& header,
                         std::size_t excerptLimit) {
    const std::string value = header ? foldedServerValue(*header) : std::string();
    if (value == "archived") return DriveError::archived();
    if (value == "reinforced") return DriveError::reinforced();
    if (value == "key_in_use") return DriveError::http(409, bodyExcerpt(body, excerptLimit));
    return DriveError::versionConflict();
}

}  // namespace

std::string bodyExcerpt(std::string_view body, std::size_t limit) {
    const std::string_view head = body.substr(0, limit);
    return isValidUtf8(head) ? std::string(head) : std::string();
}

DriveError statusError(int status, std::string_view body, const std::optional<std::string>& conflictHeader,
                       std::size_t excerptLimit) {
    switch (status) {
        case 401:
        case 403: return DriveError::notAuthenticated();
        case 404: return DriveError::notFound();
        case 409: return conflictError(body, conflictHeader, excerptLimit);
        case 413: return DriveError::payloadTooLarge();
        case 423: return DriveError::locked();
        case 507: return DriveError::insufficientQuota();
        default: return DriveError::http(status, bodyExcerpt(body, excerptLimit));
    }
}

DriveError authStatusError(int status, std::string_view body) {
    if (status == 429) return DriveError::tooManyAttempts();
    // Replacing invalid bytes cannot create or destroy this ASCII marker, so
    // searching the raw bytes gives the same answer as searching the repaired text.
    if (status == 403 && body.find("two_factor_client_unsupported") != std::string_view::npos) {
        return DriveError::twoFactorClientUnsupported();
    }
    return statusError(status, body);
}

DriveError twoFactorStatusError(int status, std::string_view body,
                                const std::optional<std::string>& conflictHeader) {
    switch (status) {
        case 429: return DriveError::tooManyAttempts();
        case 410: return DriveError::twoFactorExpired();
        case 401: return DriveError::twoFactorInvalidCode();
        default: return statusError(status, body, conflictHeader);
    }
}

DriveError storageStatusError(int status, std::string_view body) {
    return DriveError::http(status, bodyExcerpt(body, kStorageBodyExcerptLimit));
}

DriveError eventStreamStatusError(int status) {
    if (status < 100 || status > 599) return DriveError::transport("réponse non HTTP");
    if (status == 401 || status == 403) return DriveError::notAuthenticated();
    return DriveError::http(status, "flux");
}

DriveError changeFeedError(const DriveError& error) {
    if (error.kind() == DriveError::Kind::http && error.status() == 410) return DriveError::cursorExpired();
    return error;
}

}  // namespace cadrio
