// The host started by the controller when nobody serves its bus name: the
// daemon of the build tree, spawned on a private bus with a scratch home.

#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>

#include "app/domain/domain_controller.hpp"
#include "core/support/temporary_directory.hpp"
#include "platform/host/private_bus_testing.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::app {
namespace {

/// Sets an environment variable for the test's length (the spawned daemon
/// inherits it).
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

/// The pid of the name's owner on `address`, or -1.
pid_t ownerOf(const std::string& address, const char* name) {
    sd_bus* bus = nullptr;
    sd_bus_new(&bus);
    sd_bus_set_address(bus, address.c_str());
    sd_bus_set_bus_client(bus, 1);
    std::uint32_t pid = 0;
    if (sd_bus_start(bus) >= 0) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "GetConnectionUnixProcessID", nullptr, &reply, "s", name) >= 0)
            sd_bus_message_read(reply, "u", &pid);
        sd_bus_message_unref(reply);
    }
    sd_bus_flush_close_unref(bus);
    return pid == 0 ? -1 : static_cast<pid_t>(pid);
}

class HostStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
        const auto data = home.path() / "data" / "cadrio-fileproviderd";
        std::filesystem::create_directories(data);
        std::ofstream(data / "domains.json")
            << R"({"domains": [{"identifier": "ana@cadrio.test", "displayName": "ana@cadrio.test", "userEnabled": false}]})";
        options.busAddress = bus.address();
        options.daemonPath = CADRIO_FILEPROVIDERD;
        // Only a bound for a broken start: a working one ends the wait as the name is taken.
        options.hostStartTimeout = std::chrono::seconds(30);
    }
    long countOf(const std::string& line) const {
        const auto messages = sink->messages();
        return std::count(messages.begin(), messages.end(), line);
    }

    host::testing::PrivateBus bus;
    TemporaryDirectory home;
    ScopedVariable homeVariable{"HOME", home.path().string()};
    ScopedVariable data{"XDG_DATA_HOME", (home.path() / "data").string()};
    ScopedVariable cache{"XDG_CACHE_HOME", (home.path() / "cache").string()};
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    DomainControllerOptions options;
};

TEST_F(HostStartTest, CallersAtOnceStartOneDaemonAndGetItsAnswer) {
    DomainController controller(SystemClock::shared(), log::Logger("zelvano.cadrio.sync", "domain", sink), options);
    auto first = std::async(std::launch::async, [&] { return controller.isUserEnabled("ana@cadrio.test"); });
    auto second = std::async(std::launch::async, [&] { return controller.isUserEnabled("ana@cadrio.test"); });
    EXPECT_EQ(first.get(), false);
    EXPECT_EQ(second.get(), false);
    EXPECT_EQ(countOf(std::string("Service de fichiers lancé : ") + CADRIO_FILEPROVIDERD), 1);

    const pid_t daemon = ownerOf(bus.address(), "zelvano.cadrio.FileProviderHost");
    ASSERT_GT(daemon, 0);
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
}

TEST_F(HostStartTest, ADaemonThatCannotStartLeavesTheBussError) {
    options.daemonPath = home.path() / "absent";
    DomainController controller(SystemClock::shared(), log::Logger("zelvano.cadrio.sync", "domain", sink), options);
    EXPECT_EQ(controller.isUserEnabled("ana@cadrio.test"), std::nullopt);
    EXPECT_THROW(controller.mount("ana@cadrio.test"), DomainError);
}

}  // namespace
}  // namespace cadrio::app
