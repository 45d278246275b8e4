#pragma once
// One message as the sinks receive it, after private values were redacted.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace cadrio::log {

/// Severity, lowest first: debug for tracing, info for ordinary events,
/// notice for events worth keeping, error for failures, fault for bugs.
enum class Level { debug, info, notice, error, fault };

/// "debug", "info", "notice", "error" or "fault".
std::string_view levelName(Level level);

/// The level of that name (as levelName gives it); absent for any other text.
std::optional<Level> levelFromName(std::string_view name);

/// The syslog priority journald stores: 7 debug, 6 info, 5 notice, 3 error,
/// 2 (critical) fault.
int syslogPriority(Level level);

struct Record {
    std::chrono::system_clock::time_point time;
    Level level = Level::info;
    std::string subsystem;  // e.g. "zelvano.cadrio.sync"
    std::string category;   // e.g. "app", "domain", "fileprovider"
    std::string message;    // private values already replaced by "<private>"

    bool operator==(const Record&) const = default;
};

}  // namespace cadrio::log
