#pragma once
// The command line of cadrio-fileproviderd:
//
//   cadrio-fileproviderd [--foreground] [--mount-root DIR] [--plugin-path DIRS]
//
// --foreground logs to standard error instead of the journal (the daemon
// never forks: systemd and D-Bus activation start it as it is).
// --mount-root is the first domain's user-visible root (default ~/Cadrio),
// made absolute against the working folder. --plugin-path is searched for
// plug-in manifests before CADRIO_PLUGIN_PATH and the installed folder.
// Both "--option VALUE" and "--option=VALUE" are accepted.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cadrio::host {

struct DaemonOptions {
    bool foreground = false;
    bool help = false;
    std::optional<std::filesystem::path> mountRoot;
    std::optional<std::string> pluginPath;

    bool operator==(const DaemonOptions&) const = default;
};

inline constexpr const char* kDaemonUsage =
    "usage: cadrio-fileproviderd [--foreground] [--mount-root DIR] [--plugin-path DIRS]\n";

/// The options, or the text of a usage error. `arguments` excludes the
/// program name.
std::variant<DaemonOptions, std::string> parseDaemonOptions(const std::vector<std::string>& arguments);

}  // namespace cadrio::host
