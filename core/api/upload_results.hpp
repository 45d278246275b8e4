#pragma once
// The drive records an upload leaves behind, built from what the client
// sent and what the server answered. Pure functions; `now` is the instant
// recorded as the modification date.

#include <cstdint>
#include <optional>
#include <string>

#include "core/model/date.hpp"
#include "core/model/drive_records.hpp"
#include "core/model/local_content.hpp"
#include "core/model/wire_dtos.hpp"

namespace cadrio {

/// A newly created file: id, storage key and thumbnail from the answer
/// (the storage key falls back to `fallbackStorageKey`, a thumbnail field
/// that is empty counts as absent), size and hash from the content; no
/// upload timestamp until a download grant tells it.
DriveFile createdFile(const UploadResponseDTO& response, const std::string& name,
                      std::optional<std::int64_t> parentID, const LocalContent& content, Date now,
                      const std::string& fallbackStorageKey = {});

/// `file` after a replacement answered by `response`: identity and place
/// from `file`, content facts from the answer where it gives them, storage
/// class from the answer (absent or unknown: standard), no thumbnail.
DriveFile mergedReplacement(const DriveFile& file, const ReplaceResponseDTO& response, Date now);

}  // namespace cadrio
