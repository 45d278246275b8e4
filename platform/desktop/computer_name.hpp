#pragma once

// The name of this computer as its owner calls it, for the trusted-device
// label: systemd-hostnamed's pretty host name, else the host name, else
// "Linux". Blocking (a system bus call); never throws.

#include <optional>
#include <string>

namespace cadrio::desktop {

/// `busAddress`: the system bus unless given (tests).
std::string computerName(const std::optional<std::string>& busAddress = std::nullopt);

}  // namespace cadrio::desktop
