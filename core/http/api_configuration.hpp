#pragma once
// The configuration both programs build their ApiClient with.

#include "core/model/drive_configuration.hpp"

namespace cadrio {

/// DriveConfiguration::standard(), with the API base URL taken from
/// CADRIO_API_BASE_URL when that variable is set and not empty (development
/// against a local server). Throws std::invalid_argument for a plain-http
/// address whose host is not loopback.
DriveConfiguration configurationFromEnvironment();

}  // namespace cadrio
