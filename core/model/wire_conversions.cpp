#include "core/model/wire_conversions.hpp"

#include <utility>

#include "core/model/drive_error.hpp"
#include "core/model/json_decoding.hpp"
#include "core/model/url_check.hpp"

namespace cadrio {
namespace {

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (!text || text->empty()) return std::nullopt;
    return text;
}

Date modificationDate(std::optional<std::int64_t> modified, std::optional<std::int64_t> fallback) {
    return dateFromUnixSeconds(modified.value_or(fallback.value_or(0)));
}

bool isTrashedOnWire(std::optional<std::int64_t> toDelete) { return toDelete.value_or(0) > 0; }

// The conversions consume their DTO so that large change pages move their
// texts instead of copying them; the public const forms copy first.
DriveFile fileFrom(FileDTO&& dto) {
    DriveFile file;
    file.id = dto.id;
    file.parentFolderID = parentIDFromWire(dto.idFolder);
    file.name = std::move(dto.fileName);
    file.storageKey = std::move(dto.filePath).value_or(std::string());
    file.size = dto.fileSize ? roundedByteCount(*dto.fileSize) : 0;
    file.contentHash = nonEmpty(std::move(dto.contentHash));
    file.modifiedAt = modificationDate(dto.dateModified, dto.dateUpload);
    file.isTrashed = isTrashedOnWire(dto.toDelete);
    file.storageClass = storageClassFromServerValue(dto.storageClass);
    file.thumbnailPath = nonEmpty(std::move(dto.thumbnailPath));
    file.uploadTimestamp = dto.dateUpload;
    return file;
}

DriveFolder folderFrom(FolderDTO&& dto) {
    DriveFolder folder;
    folder.id = dto.id;
    folder.parentFolderID = parentIDFromWire(dto.idParent);
    folder.name = std::move(dto.folderName);
    folder.modifiedAt = modificationDate(dto.dateModified, dto.dateCreation);
    folder.isTrashed = isTrashedOnWire(dto.toDelete);
    return folder;
}

}  // namespace

std::optional<std::int64_t> parentIDFromWire(std::optional<std::int64_t> wireParentID) {
    if (!wireParentID || *wireParentID < 1) return std::nullopt;
    return wireParentID;
}

DriveFile driveFile(const FileDTO& dto) { return fileFrom(FileDTO(dto)); }
DriveFolder driveFolder(const FolderDTO& dto) { return folderFrom(FolderDTO(dto)); }
DriveChanges driveChanges(const ChangesDTO& dto) { return driveChanges(ChangesDTO(dto)); }

DriveChanges driveChanges(ChangesDTO&& dto) {
    DriveChanges changes;
    changes.cursor = dto.cursor.value_or(0);
    if (dto.folders) {
        changes.folders.reserve(dto.folders->size());
        for (FolderDTO& folder : *dto.folders) changes.folders.push_back(folderFrom(std::move(folder)));
    }
    if (dto.files) {
        changes.files.reserve(dto.files->size());
        for (FileDTO& file : *dto.files) changes.files.push_back(fileFrom(std::move(file)));
    }
    return changes;
}

DriveQuota driveQuota(const QuotaDTO& dto) {
    return DriveQuota{dto.quotaUsed.value_or(0), dto.quotaMax.value_or(0)};
}

DriveDownload driveDownload(const DownloadURLDTO& dto) {
    if (!isHTTPURL(dto.url)) throw DriveError::decoding("URL de téléchargement invalide");
    DriveDownload download;
    download.url = dto.url;
    download.expiresIn = dto.expiresIn.value_or(0);
    if (dto.fileSize) download.fileSize = roundedByteCount(*dto.fileSize);
    download.contentHash = nonEmpty(dto.contentHash);
    download.uploadTimestamp = dto.dateUpload;
    return download;
}

}  // namespace cadrio
