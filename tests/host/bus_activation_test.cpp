// The session bus starts the host on the first call to its domain manager,
// through the activation file the build writes next to its outputs (the
// installed file differs only in the daemon's path and the systemd unit).

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/support/temporary_directory.hpp"
#include "platform/host/private_bus_testing.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHost = "zelvano.cadrio.FileProviderHost";

/// A connection to the private bus at `address`, closed on destruction.
struct Connection {
    explicit Connection(const std::string& address) {
        if (sd_bus_new(&bus) < 0) return;
        if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
            sd_bus_start(bus) < 0) {
            bus = sd_bus_flush_close_unref(bus);
        }
    }
    ~Connection() { sd_bus_flush_close_unref(bus); }
    sd_bus* bus = nullptr;
};

/// Waits, at most `milliseconds`, for process `pid` (not a child) to end.
bool ends(pid_t pid, int milliseconds) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return true;
    pollfd wait{fd, POLLIN, 0};
    const bool ended = ::poll(&wait, 1, milliseconds) == 1;
    ::close(fd);
    return ended;
}

TEST(BusActivationTest, TheFirstCallStartsTheHostWhichAnswers) {
    const TemporaryDirectory home("cadrio-activation");
    // The activated daemon inherits this environment through the bus.
    ::setenv("HOME", home.path().c_str(), 1);
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        ::unsetenv(variable);
    const testing::PrivateBus privateBus({CADRIO_BUILD_SERVICE_FOLDER});
    ASSERT_FALSE(privateBus.address().empty()) << "dbus-daemon did not start";
    const Connection connection(privateBus.address());
    ASSERT_NE(connection.bus, nullptr);

    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    const int called = sd_bus_call_method(connection.bus, kHost, "/zelvano/cadrio/FileProviderHost",
                                          "zelvano.cadrio.FileProviderHost.DomainManager", "ListDomains", &error,
                                          &reply, "");
    EXPECT_GE(called, 0) << (error.name ? error.name : "") << ": " << (error.message ? error.message : "");
    if (called >= 0) {
        EXPECT_GE(sd_bus_message_enter_container(reply, 'a', "(ssb)"), 0);
        EXPECT_EQ(sd_bus_message_at_end(reply, 0), 1) << "a fresh home has no domain";
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);

    // The daemon that answered is the build's, started by the bus; SIGTERM
    // ends it cleanly.
    std::uint32_t pid = 0;
    ASSERT_GE(sd_bus_call_method(connection.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "GetConnectionUnixProcessID", nullptr, &reply, "s", kHost),
              0);
    ASSERT_GE(sd_bus_message_read(reply, "u", &pid), 0);
    sd_bus_message_unref(reply);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"), fs::path(CADRIO_FILEPROVIDERD));
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_TRUE(ends(static_cast<pid_t>(pid), 30'000));
}

}  // namespace
}  // namespace cadrio::host
