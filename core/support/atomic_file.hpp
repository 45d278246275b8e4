#pragma once
// Replacing a whole file so that readers in other processes see either the
// previous content or the new one, never a mix, and a crash or a full disk
// never leaves a truncated file behind; and reading such a file back whole.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace cadrio {

/// Writes `bytes` to `target` atomically: a temporary file with a unique name
/// is created in the target's folder (mode `permissions`), filled, flushed to
/// disk, then renamed over the target; the folder is flushed last.
///
/// On failure the temporary file is removed, the previous target (if any) is
/// left as it was, and a std::system_error carrying the errno is thrown. Once
/// the rename has happened the call succeeds: a failure to flush the folder
/// afterwards is not reported, since the new content is already in place and
/// the caller could not restore the old one anyway.
///
/// A symbolic link at `target` is replaced by the file, not followed.
/// Threads: any number of calls may run at once, also on the same target;
/// each caller's content arrives whole and the last rename wins.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write);

/// The whole content of the regular file at `path` (symbolic links
/// followed). Throws std::system_error: the errno of a failed open or read,
/// EISDIR or EINVAL for something that is not a regular file, EFBIG when the
/// file holds more than `maxBytes` (checked before anything is read, and
/// again while reading in case the file grows).
std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace cadrio
