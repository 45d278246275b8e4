#include "platform/desktop/computer_name.hpp"

#include <limits.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/desktop/system_bus.hpp"

namespace cadrio::desktop {
namespace {

// hostnamed starts on demand; a machine where it hangs must not hold the
// sign-in up for long.
constexpr std::uint64_t kCallTimeoutMicroseconds = 2'000'000;

std::optional<std::string> prettyHostName(const std::optional<std::string>& busAddress) {
    sd_bus* bus = nullptr;
    if (openSystemBus(busAddress, &bus) < 0) return std::nullopt;
    sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
    sd_bus_error error{};
    char* value = nullptr;
    const int result = sd_bus_get_property_string(bus, "org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                                                  "org.freedesktop.hostname1", "PrettyHostname", &error, &value);
    std::optional<std::string> name;
    if (result >= 0 && value != nullptr && *value != '\0') name = value;
    std::free(value);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return name;
}

std::optional<std::string> hostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return std::nullopt;
    return std::string(buffer);
}

}  // namespace

std::string computerName(const std::optional<std::string>& busAddress) {
    if (auto pretty = prettyHostName(busAddress)) return *pretty;
    if (auto name = hostName()) return *name;
    return "Linux";
}

}  // namespace cadrio::desktop
