#pragma once
// Where the host keeps its files: its data folder (registry, elections,
// replicas) and its cache folder (materialised contents), both named
// "cadrio-fileproviderd" under the user's XDG base folders, and the home
// folder the default user-visible roots live in.
//
// An XDG variable that is unset, empty or relative is ignored (the base
// directory rules say so), and its default below the home folder is used.

#include <filesystem>
#include <string>

namespace cadrio::host {

struct HostDirectories {
    std::filesystem::path home;
    std::filesystem::path data;   ///< $XDG_DATA_HOME/cadrio-fileproviderd
    std::filesystem::path cache;  ///< $XDG_CACHE_HOME/cadrio-fileproviderd

    /// From HOME, XDG_DATA_HOME and XDG_CACHE_HOME; HOME unset falls back to
    /// the password database. Throws std::runtime_error when no home folder
    /// can be found.
    static HostDirectories fromEnvironment();
    /// The same rules with the values given (null: unset).
    static HostDirectories resolve(const char* home, const char* xdgDataHome, const char* xdgCacheHome);

    /// Where a domain's replica database lives.
    std::filesystem::path replicaFile(const std::string& domainIdentifier) const {
        return data / domainIdentifier / "replica.sqlite";
    }
    std::filesystem::path cacheDirectory(const std::string& domainIdentifier) const {
        return cache / domainIdentifier;
    }
};

/// Creates `folder` and its missing parents; the folder itself (created or
/// not) is left with mode 0700. Throws std::filesystem::filesystem_error.
void createPrivateDirectory(const std::filesystem::path& folder);

}  // namespace cadrio::host
