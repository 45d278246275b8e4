#pragma once
// Reaching the system bus, or a bus of the caller's choosing (tests run
// their own dbus-daemon and hand its address in).

#include <systemd/sd-bus.h>

#include <optional>
#include <string>

namespace cadrio::desktop {

/// Connects to `address` as a bus client, or to the system bus when none is
/// given. On success `*bus` holds the new connection (the caller unrefs it)
/// and 0 is returned; otherwise `*bus` is null and the negative errno is
/// returned.
int openSystemBus(const std::optional<std::string>& address, sd_bus** bus);

}  // namespace cadrio::desktop
