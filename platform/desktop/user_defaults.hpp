#pragma once

// The application's small settings ("lastEmail", "conflictDismissedUntil",
// "launchAtLoginChosen"): one JSON object in
// $XDG_CONFIG_HOME/zelvano-cadrio/user-defaults.json (~/.config when the
// variable is unset or not absolute).
//
// Reading is tolerant: a missing, unreadable or malformed file, or a value
// of another type, reads as absent (a malformed file is kept aside as
// "user-defaults.json.bad" on the next write rather than lost). Every write
// replaces the file atomically (mode 0600) with all values; a failed write
// is logged and the value stays in memory for this run.
//
// Threads: every member from any thread. mutex_ guards the values and is
// never held while the file is written; writeMutex_ puts the writes of this
// object in order, so that the file ends with the latest values (lock order:
// writeMutex_, then mutex_).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/support/thread_annotations.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::desktop {

class UserDefaults {
public:
    /// Reads `file` once, now.
    UserDefaults(std::filesystem::path file, log::Logger logger);

    /// $XDG_CONFIG_HOME/zelvano-cadrio/user-defaults.json. Throws std::runtime_error
    /// when no home folder can be found.
    static std::filesystem::path standardLocation();

    std::optional<std::string> string(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;

    void set(std::string_view key, nlohmann::json value);

    const std::filesystem::path& file() const { return file_; }

private:
    std::optional<nlohmann::json> value(std::string_view key) const;
    void write();

    const std::filesystem::path file_;
    const log::Logger logger_;
    Mutex writeMutex_ CADRIO_ACQUIRED_BEFORE(mutex_);
    mutable Mutex mutex_;
    nlohmann::json values_ CADRIO_GUARDED_BY(mutex_);
    bool malformedOnDisk_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::desktop
