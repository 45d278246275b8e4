#include "platform/desktop/desktop_notifications.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/desktop/served_bus_testing.hpp"
#include "platform/host/private_bus_testing.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::desktop {
namespace {

/// org.freedesktop.Notifications as far as Notify goes: it keeps what it
/// was shown.
class FakeNotificationServer {
public:
    struct Shown {
        std::string application, title, body;
    };

    explicit FakeNotificationServer(const std::string& address)
        : served_(address, [this](sd_bus* bus) {
              sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", kVtable, this);
              sd_bus_request_name(bus, "org.freedesktop.Notifications", 0);
          }) {}

    std::vector<Shown> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return shown_.size() >= count; });
        return shown_;
    }

private:
    static int onNotify(sd_bus_message* call, void* data, sd_bus_error*) {
        auto& self = *static_cast<FakeNotificationServer*>(data);
        const char* application = nullptr;
        std::uint32_t replaces = 0;
        const char* icon = nullptr;
        const char* title = nullptr;
        const char* body = nullptr;
        const int read = sd_bus_message_read(call, "susss", &application, &replaces, &icon, &title, &body);
        if (read < 0) return read;
        std::uint32_t id = 0;
        {
            std::lock_guard lock(self.mutex_);
            self.shown_.push_back({application, title, body});
            id = static_cast<std::uint32_t>(self.shown_.size());
            self.changed_.notify_all();
        }
        return sd_bus_reply_method_return(call, "u", id);
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", onNotify, 0), SD_BUS_VTABLE_END};

    std::mutex mutex_;  // guards shown_
    std::condition_variable changed_;
    std::vector<Shown> shown_;
    testing::ServedBus served_;  // declared last: stops serving before the rest goes
};

TEST(DesktopNotifications, AreShownInOrderUnderTheApplicationsName) {
    host::testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    FakeNotificationServer server(bus.address());
    DesktopNotifications notifications(log::Logger("zelvano.cadrio.sync", "app"), bus.address());
    notifications.post({"Conflit", "Rapport.pdf"});
    notifications.post({"Modification refusée", "Notes.txt : quota"});
    const auto shown = server.waitFor(2);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].application, "Zelvano Cadrio");
    EXPECT_EQ(shown[0].title, "Conflit");
    EXPECT_EQ(shown[1].body, "Notes.txt : quota");
}

TEST(DesktopNotifications, WithoutAServerOrABusTheFailureIsSaidOnce) {
    host::testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    for (const std::string& address : {bus.address(), std::string("unix:path=/nonexistent/bus")}) {
        const auto sink = std::make_shared<log::MemorySink>();
        {
            DesktopNotifications notifications(log::Logger("zelvano.cadrio.sync", "app", sink), address);
            notifications.post({"a", "b"});
            notifications.post({"c", "d"});
        }  // sends what was posted, then stops
        EXPECT_EQ(sink->messages().size(), 1u) << address;
    }
}

}  // namespace
}  // namespace cadrio::desktop
