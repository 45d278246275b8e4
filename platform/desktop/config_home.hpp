#pragma once
// Where the user's settings live: $XDG_CONFIG_HOME, or ~/.config when the
// variable is unset, empty or not absolute.

#include <filesystem>

namespace cadrio::desktop {

/// Read from the environment on every call (HOME unset: the password
/// database's home folder). Throws std::runtime_error when no home folder
/// can be found at all.
std::filesystem::path configHome();

/// Makes `folder` exist (its parents as needed) as a folder private to its
/// owner, mode 0700. Throws std::filesystem::filesystem_error.
void createPrivateFolder(const std::filesystem::path& folder);

}  // namespace cadrio::desktop
