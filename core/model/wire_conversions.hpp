#pragma once
// From wire DTOs to the clean records. Pure functions; the first three never
// fail (decoding has already checked every value), the download grant is
// refused when its address is not a web URL.

#include "core/model/drive_records.hpp"
#include "core/model/wire_dtos.hpp"

namespace cadrio {

DriveFile driveFile(const FileDTO& dto);
DriveFolder driveFolder(const FolderDTO& dto);
DriveChanges driveChanges(const ChangesDTO& dto);
/// Moves the elements out of `dto`: the form for large change pages.
DriveChanges driveChanges(ChangesDTO&& dto);
DriveQuota driveQuota(const QuotaDTO& dto);

/// Throws DriveError::decoding("URL de téléchargement invalide") unless
/// "url" is an absolute http or https URL.
DriveDownload driveDownload(const DownloadURLDTO& dto);

/// A parent id as the server sends it: absent, 0 and negative mean the root.
std::optional<std::int64_t> parentIDFromWire(std::optional<std::int64_t> wireParentID);

}  // namespace cadrio
