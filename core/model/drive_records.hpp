#pragma once
// The clean records the rest of the system works on. Values, immutable by
// convention once built; conversions from the wire live in wire_conversions.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/model/date.hpp"
#include "core/model/storage_class.hpp"

namespace cadrio {

struct DriveDownload;

struct DriveFile {
    std::int64_t id = 0;
    std::optional<std::int64_t> parentFolderID;  // absent: the root folder
    std::string name;
    std::string storageKey;                 // empty when the server gave none
    std::int64_t size = 0;
    std::optional<std::string> contentHash;  // never the empty text
    Date modifiedAt{};
    bool isTrashed = false;
    StorageClass storageClass = StorageClass::standard;
    std::optional<std::string> thumbnailPath;  // raw server field, never empty
    std::optional<std::int64_t> uploadTimestamp;  // seconds since 1970

    bool operator==(const DriveFile&) const = default;

    bool isSynchronizable() const { return !isTrashed && cadrio::isSynchronizable(storageClass); }

    /// Storage keys of the thumbnails decoded from `thumbnailPath`: the
    /// trimmed text itself, or the non-empty strings of a JSON array text.
    /// An array text that does not parse, or is longer than
    /// kMaxThumbnailPathBytes or nested too deep, gives no keys.
    std::vector<std::string> thumbnailKeys() const;
    static constexpr std::size_t kMaxThumbnailPathBytes = 64 * 1024;
    /// 256x256, then 1024x1024, then 64x64, else the first key.
    std::optional<std::string> preferredThumbnailKey() const;
    /// This record brought up to date by a download grant and the bytes received.
    DriveFile refreshed(const DriveDownload& download, std::optional<std::int64_t> receivedBytes) const;
    /// A copy with another name and parent.
    DriveFile with(std::string newName, std::optional<std::int64_t> parentID) const;
};

struct DriveFolder {
    std::int64_t id = 0;
    std::optional<std::int64_t> parentFolderID;  // absent: the root folder
    std::string name;
    Date modifiedAt{};
    bool isTrashed = false;

    bool operator==(const DriveFolder&) const = default;
    bool isSynchronizable() const { return !isTrashed; }
};

struct DriveChanges {
    std::int64_t cursor = 0;
    std::vector<DriveFolder> folders;
    std::vector<DriveFile> files;

    bool operator==(const DriveChanges&) const = default;
};

struct DriveQuota {
    double usedMegabytes = 0;
    double maxMegabytes = 0;

    bool operator==(const DriveQuota&) const = default;
    /// Used share in [0, 1]; 0 when the maximum is not positive or the ratio is NaN.
    double fraction() const;
};

struct DriveDownload {
    std::string url;  // presigned storage address, http or https
    std::int64_t expiresIn = 0;
    std::optional<std::int64_t> fileSize;
    std::optional<std::string> contentHash;  // never empty
    std::optional<std::int64_t> uploadTimestamp;

    bool operator==(const DriveDownload&) const = default;

    /// Throws DriveError::transport when a known, non-negative length differs
    /// from the bytes received.
    static void checkReceived(std::int64_t bytes, std::optional<std::int64_t> contentLength);
};

}  // namespace cadrio
