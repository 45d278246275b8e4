#pragma once
// The host's plug-ins and whether the user elected them.
//
// A plug-in is described by a manifest, a "*.json" file in one of the
// search folders:
//
//   {"identifier": "zelvano.cadrio.sync.fileprovider", "version": "0.1.0",
//    "library": "zelvano-cadrio-fileprovider.so"}
//
// where "library" is relative to the manifest's folder. Folders are searched
// in order; the first manifest of an identifier wins, so that a development
// folder put first in CADRIO_PLUGIN_PATH shadows the installed plug-in. A
// manifest that cannot be read or lacks a field is skipped and logged.
//
// Elections live in "<data folder>/plugins.json" as
//   {"elections": {"<identifier>": "use" | "ignore"}}
// and a plug-in nobody voted on is elected. A switched-off plug-in is not
// loaded.
//
// Threads: every member may be called from any thread; manifests and
// elections are read from disk at each call (both are small), so another
// process's change is seen at the next call. mutex_ serialises the
// elections file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/host/json_state_file.hpp"

namespace cadrio::host {

struct PluginManifest {
    std::string identifier;
    std::string version;
    std::filesystem::path library;   ///< resolved against the manifest's folder
    std::filesystem::path manifest;  ///< the file it was read from

    bool operator==(const PluginManifest&) const = default;
};

class PluginRegistry {
public:
    /// The file-provider plug-in the daemon loads.
    static constexpr const char* kFileProviderPlugin = "zelvano.cadrio.sync.fileprovider";

    PluginRegistry(std::vector<std::filesystem::path> searchFolders, std::filesystem::path electionsFile);

    /// The folders of `pluginPathVariable` (colon-separated, empty parts
    /// dropped; null: none) followed by `installedFolder`.
    static std::vector<std::filesystem::path> searchPath(const char* pluginPathVariable,
                                                         const std::filesystem::path& installedFolder);
    /// Where the installed plug-ins live.
    static std::filesystem::path installedFolder();

    /// Every plug-in found, in search order (by file name within a folder).
    std::vector<PluginManifest> plugins() const;
    std::optional<PluginManifest> find(const std::string& identifier) const;

    bool isElected(const std::string& identifier) const CADRIO_EXCLUDES(mutex_);
    /// Elects or switches off a known plug-in; false (and nothing written)
    /// when no manifest names `identifier`. Throws the file's errors.
    bool setElected(const std::string& identifier, bool elected) CADRIO_EXCLUDES(mutex_);

private:
    const std::vector<std::filesystem::path> searchFolders_;
    mutable Mutex mutex_;
    mutable JsonStateFile elections_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::host
