#pragma once
// The host's one log category: every part of the host logs as
// "zelvano.cadrio.sync" / "host", so that `journalctl` filters see it whole.

#include "platform/log/logger.hpp"

namespace cadrio::host {

/// Thread-safe; lives until the process ends.
const log::Logger& hostLogger();

}  // namespace cadrio::host
