#pragma once
// Local files as the uploads of creations and modifications describe them.
//
// Pure apart from the file system; safe from any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "core/model/local_content.hpp"

namespace cadrio {

/// The size of the file at `path` (symbolic links followed); absent for
/// what is not a regular file. Throws std::filesystem::filesystem_error
/// when its attributes cannot be read (a missing file included).
std::optional<std::int64_t> localFileSize(const std::filesystem::path& path);

/// The file at `path` ready for upload under the name `name`: its size (0
/// when it has none), its SHA-256 and the MIME type registered for the
/// name's extension ("application/octet-stream" when none is). Without a
/// path, a new empty file named by a random UUID in the process's temporary
/// directory stands for it; that file is the caller's to remove.
///
/// Throws std::filesystem::filesystem_error when the file cannot be created,
/// examined or read (a folder included); nothing is uploaded from a file
/// that could not be hashed.
LocalContent localContent(const std::optional<std::filesystem::path>& path, std::string_view name);

}  // namespace cadrio
