#include "core/model/drive_records.hpp"

#include <array>
#include <cmath>
#include <string_view>
#include <utility>

#include "core/model/drive_error.hpp"
#include "core/model/json_tree.hpp"

namespace cadrio {
namespace {

// White space and line breaks as Unicode counts them, in UTF-8.
constexpr std::array<std::string_view, 19> kUnicodeSpaces{
    "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool removeLeadingSpace(std::string_view& text) {
    if (text.empty()) return false;
    if (isAsciiSpace(text.front())) {
        text.remove_prefix(1);
        return true;
    }
    for (std::string_view space : kUnicodeSpaces) {
        if (text.starts_with(space)) {
            text.remove_prefix(space.size());
            return true;
        }
    }
    return false;
}

bool removeTrailingSpace(std::string_view& text) {
    if (text.empty()) return false;
    if (isAsciiSpace(text.back())) {
        text.remove_suffix(1);
        return true;
    }
    for (std::string_view space : kUnicodeSpaces) {
        if (text.ends_with(space)) {
            text.remove_suffix(space.size());
            return true;
        }
    }
    return false;
}

std::string_view trimmedWhitespace(std::string_view text) {
    while (removeLeadingSpace(text)) {
    }
    while (removeTrailingSpace(text)) {
    }
    return text;
}

}  // namespace

std::vector<std::string> DriveFile::thumbnailKeys() const {
    const std::string_view text = trimmedWhitespace(thumbnailPath ? std::string_view(*thumbnailPath) : "");
    if (text.empty()) return {};
    if (!text.starts_with('[')) return {std::string(text)};
    const JsonTree parsed = parsedJsonTree(text, kMaxThumbnailPathBytes);
    if (!parsed.value.is_array()) return {};
    std::vector<std::string> keys;
    for (const auto& element : parsed.value) {
        if (element.is_string() && !element.get_ref<const std::string&>().empty()) {
            keys.push_back(element.get<std::string>());
        }
    }
    return keys;
}

std::optional<std::string> DriveFile::preferredThumbnailKey() const {
    const std::vector<std::string> keys = thumbnailKeys();
    for (std::string_view size : {"_256x256.", "_1024x1024.", "_64x64."}) {
        for (const std::string& key : keys) {
            if (key.find(size) != std::string::npos) return key;
        }
    }
    if (keys.empty()) return std::nullopt;
    return keys.front();
}

DriveFile DriveFile::refreshed(const DriveDownload& download, std::optional<std::int64_t> receivedBytes) const {
    DriveFile copy = *this;
    copy.size = receivedBytes.value_or(download.fileSize.value_or(size));
    if (download.contentHash) copy.contentHash = download.contentHash;
    if (download.uploadTimestamp) copy.uploadTimestamp = download.uploadTimestamp;
    return copy;
}

DriveFile DriveFile::with(std::string newName, std::optional<std::int64_t> parentID) const {
    DriveFile copy = *this;
    copy.name = std::move(newName);
    copy.parentFolderID = parentID;
    return copy;
}

double DriveQuota::fraction() const {
    if (!(maxMegabytes > 0)) return 0;
    const double ratio = usedMegabytes / maxMegabytes;
    if (std::isnan(ratio) || ratio < 0) return 0;
    return ratio > 1 ? 1 : ratio;
}

void DriveDownload::checkReceived(std::int64_t bytes, std::optional<std::int64_t> contentLength) {
    if (!contentLength || *contentLength < 0 || *contentLength == bytes) return;
    throw DriveError::transport("téléchargement incomplet : " + std::to_string(bytes) + " octets reçus sur " +
                                std::to_string(*contentLength));
}

}  // namespace cadrio
