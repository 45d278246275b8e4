#pragma once

// Brings the file-provider host onto the bus when nobody owns its name:
// D-Bus activation first (it works once the host's .service file is
// installed), else the daemon spawned detached (its own session, standard
// streams on /dev/null, this process's environment, which is how
// CADRIO_PLUGIN_PATH and the bus address reach it). Then waits, on the
// injected clock and for at most the time-out, until the name has an owner
// or the spawned daemon ended.
//
// Threads: start() from any thread but the bus thread. Concurrent callers
// share one attempt, so the daemon is never spawned twice at once; mutex_
// guards attempt_ and is never held while the attempt runs.

#include <filesystem>
#include <future>
#include <optional>
#include <string>

#include "app/domain/host_bus.hpp"
#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::app {

struct HostStartSettings {
    const char* busName;
    std::filesystem::path daemonPath;
    /// Given to the daemon as DBUS_SESSION_BUS_ADDRESS; none: its own.
    std::optional<std::string> busAddress;
    Clock::Duration timeout;
};

class HostStarter {
public:
    /// `bus`, `clock` and `logger` must outlive the starter.
    HostStarter(HostBus& bus, Clock& clock, const log::Logger& logger, HostStartSettings settings);

    /// True once the name has an owner; false when it got none in time.
    bool start() CADRIO_EXCLUDES(mutex_);

    /// What ends one attempt's wait (inside the implementation).
    struct Race;

private:
    bool attempt();
    bool hasOwner();
    bool activate();
    bool spawnDaemon(const std::shared_ptr<Race>& race);

    HostBus& bus_;
    Clock& clock_;
    const log::Logger& logger_;
    const HostStartSettings settings_;
    Mutex mutex_;
    std::optional<std::shared_future<bool>> attempt_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::app
