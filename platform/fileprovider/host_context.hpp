#pragma once
// What the host tells a plug-in about its surroundings when it creates the
// extension for a domain: the few facts the framework's manager would answer
// on other platforms.

#include <filesystem>
#include <optional>

namespace cadrio::fileprovider {

struct HostContext {
    /// A per-domain scratch directory on the file system of the host's
    /// content cache: files that fetchContents answers with are written here
    /// so that the host can rename them into place. Absent when the host has
    /// none; the plug-in then uses the process's temporary directory.
    std::optional<std::filesystem::path> temporaryDirectory;

    bool operator==(const HostContext&) const = default;
};

}  // namespace cadrio::fileprovider
