#pragma once
// SHA-256 of local content, computed before an upload so that the server can
// check what it received and later versions can be compared.

#include <cstddef>
#include <filesystem>
#include <string>

namespace cadrio::ContentHasher {

/// Size of the blocks read from the file; at most one is held at a time.
inline constexpr std::size_t kBlockSize = 4 * 1024 * 1024;

/// The SHA-256 of the file's bytes as 64 lower-case hexadecimal digits.
///
/// Throws std::filesystem::filesystem_error when the file cannot be opened or
/// read (a folder fails with "is a directory"), std::runtime_error when the
/// crypto library fails; a partial hash is never returned. Pure apart from
/// reading the one file; safe to call from any number of threads at once.
std::string sha256(const std::filesystem::path& url);

}  // namespace cadrio::ContentHasher
