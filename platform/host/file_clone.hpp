#pragma once
// Copies of whole files that share blocks with their source where the file
// system allows (reflinks on btrfs, XFS, bcachefs), so that a working copy of
// a large file costs nothing until it is written.

#include <filesystem>

namespace cadrio::host {

/// Makes `target` (which must not exist, mode 0600) a copy of the open file
/// `sourceFd`, read from its start: a clone when the file system can, else
/// copy_file_range, else read and write. On failure `target` is removed and
/// std::filesystem::filesystem_error thrown.
void cloneFile(int sourceFd, const std::filesystem::path& target);

}  // namespace cadrio::host
