#include "platform/host/host_logger.hpp"

namespace cadrio::host {

const log::Logger& hostLogger() {
    static const log::Logger instance("zelvano.cadrio.sync", "host");
    return instance;
}

}  // namespace cadrio::host
