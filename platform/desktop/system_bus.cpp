#include "platform/desktop/system_bus.hpp"

namespace cadrio::desktop {

int openSystemBus(const std::optional<std::string>& address, sd_bus** bus) {
    *bus = nullptr;
    if (!address) {
        const int result = sd_bus_open_system(bus);
        return result < 0 ? result : 0;
    }
    sd_bus* connection = nullptr;
    int result = sd_bus_new(&connection);
    if (result >= 0) result = sd_bus_set_address(connection, address->c_str());
    if (result >= 0) result = sd_bus_set_bus_client(connection, 1);
    if (result >= 0) result = sd_bus_start(connection);
    if (result < 0) {
        sd_bus_unref(connection);
        return result;
    }
    *bus = connection;
    return 0;
}

}  // namespace cadrio::desktop
