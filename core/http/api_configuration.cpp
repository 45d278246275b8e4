#include "core/http/api_configuration.hpp"

#include <cstdlib>

#include "core/http/request_url.hpp"

namespace cadrio {

DriveConfiguration configurationFromEnvironment() {
    DriveConfiguration configuration = DriveConfiguration::standard();
    if (const char* override = std::getenv("CADRIO_API_BASE_URL"); override && *override) {
        configuration.apiBaseURL = override;
    }
    requireSecureBaseURL(configuration.apiBaseURL, "CADRIO_API_BASE_URL");
    return configuration;
}

}  // namespace cadrio
