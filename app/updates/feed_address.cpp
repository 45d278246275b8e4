#include <cstdlib>

#include "app/updates/updater.hpp"

#ifndef CADRIO_APPCAST_URL
#error "CADRIO_APPCAST_URL must be defined by the build"
#endif

namespace cadrio::app {

std::string Updater::feedURLFromEnvironment() {
    // Set but empty turns the checks off, as an empty build-time address does.
    if (const char* value = std::getenv("CADRIO_APPCAST_URL")) return value;
    return CADRIO_APPCAST_URL;
}

}  // namespace cadrio::app
