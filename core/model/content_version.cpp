#include "core/model/content_version.hpp"

#include <vector>

#include "core/model/decimal_parsing.hpp"

namespace cadrio::ContentVersion {
namespace {

/// Splits at ':' into at most three non-empty pieces: empty pieces are
/// dropped and do not count, and the third piece is the whole rest.
std::vector<std::string_view> splitToken(std::string_view text) {
    std::vector<std::string_view> pieces;
    while (pieces.size() < 2) {
        const std::size_t separator = text.find(':');
        if (separator == std::string_view::npos) break;
        if (separator > 0) pieces.push_back(text.substr(0, separator));
        text.remove_prefix(separator + 1);
    }
    if (!text.empty()) pieces.push_back(text);
    return pieces;
}

}  // namespace

std::string token(const DriveFile& file) {
    if (file.uploadTimestamp) {
        return "u:" + std::to_string(*file.uploadTimestamp) + ":" + std::to_string(file.size);
    }
    if (file.contentHash) return "h:" + *file.contentHash;
    return "m:" + std::to_string(file.size) + ":" + std::to_string(unixSecondsTruncated(file.modifiedAt));
}

ReplacePrecondition precondition(std::string_view token) {
    const std::vector<std::string_view> pieces = splitToken(token);
    if (pieces.size() < 2) return {};
    if (pieces[0] == "h") {
        // The hash is the whole rest of the token: a hash holding a colon
        // ("sha256:...") must come back whole, or every replacement of the
        // file would be refused as a conflict.
        const auto start = static_cast<std::size_t>(pieces[1].data() - token.data());
        const std::string_view hash = token.substr(start);
        return {.ifContentHash = std::string(hash), .ifDateUpload = std::nullopt};
    }
    if (pieces[0] == "u") return {.ifContentHash = std::nullopt, .ifDateUpload = parseSignedDecimal(pieces[1])};
    return {};
}

}  // namespace cadrio::ContentVersion
