#pragma once
// Small drive records for the plug-in's tests. Header-only, test-only.

#include <cstdint>
#include <optional>
#include <string>

#include "core/model/date.hpp"
#include "core/model/drive_records.hpp"

namespace cadrio::testing {

inline DriveFolder folderRecord(std::int64_t id, std::string name, std::optional<std::int64_t> parent = std::nullopt,
                                bool trashed = false) {
    return DriveFolder{.id = id,
                       .parentFolderID = parent,
                       .name = std::move(name),
                       .modifiedAt = dateFromUnixSeconds(std::int64_t{1'700'000'000} + id),
                       .isTrashed = trashed};
}

inline DriveFile fileRecord(std::int64_t id, std::string name, std::optional<std::int64_t> parent = std::nullopt,
                            StorageClass storage = StorageClass::standard, bool trashed = false) {
    return DriveFile{.id = id,
                     .parentFolderID = parent,
                     .name = std::move(name),
                     .storageKey = "users/1/" + std::to_string(id),
                     .size = 100 + id,
                     .contentHash = "hash" + std::to_string(id),
                     .modifiedAt = dateFromUnixSeconds(std::int64_t{1'700'000'000} + id),
                     .isTrashed = trashed,
                     .storageClass = storage,
                     .thumbnailPath = std::nullopt,
                     .uploadTimestamp = std::int64_t{1'700'000'000} + id};
}

}  // namespace cadrio::testing
