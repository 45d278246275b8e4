#include "platform/desktop/computer_name.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/desktop/served_bus_testing.hpp"
#include "platform/host/private_bus_testing.hpp"

namespace cadrio::desktop {
namespace {

std::string hostName() {
    char buffer[256] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

/// systemd-hostnamed as far as the name's reader knows it.
class FakeHostnamed {
public:
    FakeHostnamed(const std::string& address, std::string pretty)
        : pretty_(std::move(pretty)), served_(address, [this](sd_bus* bus) {
              sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/hostname1", "org.freedesktop.hostname1",
                                       kVtable, this);
              sd_bus_request_name(bus, "org.freedesktop.hostname1", 0);
          }) {}

private:
    static int pretty(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                      sd_bus_error*) {
        return sd_bus_message_append(reply, "s", static_cast<FakeHostnamed*>(data)->pretty_.c_str());
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("PrettyHostname", "s", pretty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_VTABLE_END};

    const std::string pretty_;
    testing::ServedBus served_;
};

TEST(ComputerName, ThePrettyNameWhenSetElseTheHostName) {
    host::testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    const struct {
        const char* pretty;
        std::string expected;
    } cases[] = {{"Portable de Léa", "Portable de Léa"}, {"", hostName()}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.pretty);
        const FakeHostnamed hostnamed(bus.address(), entry.pretty);
        EXPECT_EQ(computerName(bus.address()), entry.expected);
    }
}

TEST(ComputerName, WithoutABusTheHostName) {
    EXPECT_EQ(computerName("unix:path=/nonexistent/bus"), hostName());
}

}  // namespace
}  // namespace cadrio::desktop
