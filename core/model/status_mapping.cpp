#include "core/model/status_mapping.hpp"

#include <cstdint>

#include "core/model/ascii_text.hpp"

namespace cadrio {
namespace {

// Length of the sequence introduced by `lead` and the smallest allowed value
// of its second byte's range, following the well-formed table of Unicode
// (which rules out overlong forms, surrogates and values above U+10FFFF).
struct SequenceRule {
    int length;
    unsigned char secondLow;
    unsigned char secondHigh;
};

SequenceRule ruleFor(unsigned char lead) noexcept {
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

bool isContinuation(unsigned char byte) noexcept { return byte >= 0x80 && byte <= 0xBF; }

DriveError conflictError(std::string_view body, const std::optional<std::string>& header,
                         std::size_t excerptLimit) {
    const std::string value = header ? foldedServerValue(*header) : std::string();
    if (value == "archived") return DriveError::archived();
    if (value == "reinforced") return DriveError::reinforced();
    if (value == "key_in_use") return DriveError::http(409, bodyExcerpt(body, excerptLimit));
    return DriveError::versionConflict();
}

}  // namespace

bool isValidUtf8(std::string_view bytes) noexcept {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const SequenceRule rule = ruleFor(lead);
        if (rule.length == 0) return false;
        if (rule.length == 1) {
            ++i;
            continue;
        }
        if (bytes.size() - i < static_cast<std::size_t>(rule.length)) return false;
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < rule.secondLow || second > rule.secondHigh) return false;
        for (int k = 2; k < rule.length; ++k) {
            if (!isContinuation(static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]))) {
                return false;
            }
        }
        i += static_cast<std::size_t>(rule.length);
    }
    return true;
}

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
