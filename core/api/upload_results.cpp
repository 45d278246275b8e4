#include "core/api/upload_results.hpp"

#include "core/model/json_decoding.hpp"
#include "core/model/wire_conversions.hpp"

namespace cadrio {

DriveFile createdFile(const UploadResponseDTO& response, const std::string& name,
                      std::optional<std::int64_t> parentID, const LocalContent& content, Date now,
                      const std::string& fallbackStorageKey) {
    DriveFile file;
    file.id = response.id;
    file.parentFolderID = parentIDFromWire(parentID);
    file.name = name;
    file.storageKey = response.s3Key.value_or(fallbackStorageKey);
    file.size = content.size;
    if (!content.contentHash.empty()) file.contentHash = content.contentHash;
    file.modifiedAt = now;
    file.isTrashed = false;
    file.storageClass = StorageClass::standard;
    if (response.thumbnailPath && !response.thumbnailPath->empty())
        file.thumbnailPath = response.thumbnailPath;
    return file;
}

DriveFile mergedReplacement(const DriveFile& file, const ReplaceResponseDTO& response, Date now) {
    DriveFile merged = file;
    if (response.filePath) merged.storageKey = *response.filePath;
    // Decoding has refused sizes that do not fit; the rounding saturates anyway.
    if (response.fileSize) merged.size = roundedByteCount(*response.fileSize);
    if (response.contentHash && !response.contentHash->empty())
        merged.contentHash = response.contentHash;
    merged.modifiedAt = now;
    merged.isTrashed = false;
    merged.thumbnailPath.reset();
    merged.storageClass = storageClassFromServerValue(response.storageClass);
    if (response.dateUpload) merged.uploadTimestamp = response.dateUpload;
    return merged;
}

}  // namespace cadrio
