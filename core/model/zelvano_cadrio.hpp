#pragma once
// The values both deliverables agree on: identifiers that tie the tray
// application, the plug-in, the secret store and the shared container
// together, and the locations of the files they exchange in that container.
//
// Every function may be called from any thread. The container is looked up
// again on every call (from XDG_DATA_HOME / HOME), so a test may point it
// elsewhere by changing the environment before the call.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cadrio::ZelvanoCadrio {

inline constexpr std::string_view teamIdentifier = "K7QW2M4XRD";
inline constexpr std::string_view appGroupIdentifier = "K7QW2M4XRD.group.zelvano.cadrio";
inline constexpr std::string_view fileProviderBundleIdentifier = "zelvano.cadrio.sync.fileprovider";
inline constexpr std::string_view domainDisplayName = "Zelvano Cadrio";

/// Secret-store services of the stored session and of the trusted-device
/// tokens; both items live in the access group `keychainAccessGroup`.
inline constexpr std::string_view sessionKeychainService = "zelvano.cadrio.session";
inline constexpr std::string_view trustedDeviceKeychainService = "zelvano.cadrio.trusted-device";
inline constexpr std::string_view keychainAccessGroup = appGroupIdentifier;

/// Log subsystem of every message, and its categories.
inline constexpr std::string_view logSubsystem = "zelvano.cadrio.sync";
inline constexpr std::string_view logCategoryFileProvider = "fileprovider";  // the plug-in's principal object
inline constexpr std::string_view logCategoryApp = "app";                    // the application model
inline constexpr std::string_view logCategoryDomain = "domain";              // the domain controller

/// The drive API base URL fixed at build time (an https URL whose path is
/// "/api/v1"). Checked once on first use: a value that is not an absolute
/// http(s) URL stops the process, as it can only be a build mistake.
const std::string& defaultAPIBaseURL();

/// The event server base URL fixed at build time (https, no path); checked
/// like `defaultAPIBaseURL`.
const std::string& pushBaseURL();

/// The shared container directory, `$XDG_DATA_HOME/<appGroupIdentifier>/`
/// (`$HOME/.local/share/...` when XDG_DATA_HOME is unset or relative).
/// Missing parents are created with the default mode and the container
/// itself with mode 0700; an existing container with a wider mode is
/// narrowed to 0700. Absent when neither variable gives an absolute path,
/// when the location is not a directory, or when creating or narrowing it
/// fails.
std::optional<std::filesystem::path> appGroupContainerURL();

/// The file-name key of a domain: lower-cased (unicodeLowercased), every
/// "/", ":" and "\" replaced by "_", everything else kept as it is.
std::string sanitizedDomainKey(std::string_view domainIdentifier);

/// The container followed by "item-store-" + key + ".json"; absent without container.
std::optional<std::filesystem::path> itemStoreURL(std::string_view domainIdentifier);

/// The container followed by "summary-" + key + ".json"; absent without container.
std::optional<std::filesystem::path> summaryURL(std::string_view domainIdentifier);

/// Deletes the domain's item store and summary files, and the "item-store.json"
/// of the earlier single-domain layout. Missing files and removal errors are
/// ignored; never throws.
void removeLocalState(std::string_view domainIdentifier) noexcept;

}  // namespace cadrio::ZelvanoCadrio
