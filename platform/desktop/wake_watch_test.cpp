#include "platform/desktop/wake_watch.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/desktop/fake_logind_testing.hpp"
#include "platform/host/private_bus_testing.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::desktop {
namespace {

TEST(WakeWatch, OnlyWakingUpCallsAndTheWatchStopsWhenDestroyed) {
    host::testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    testing::FakeLogind logind(bus.address());
    std::mutex mutex;
    std::condition_variable called;
    int wakes = 0;
    auto watch = std::make_unique<WakeWatch>(
        [&] {
            std::lock_guard lock(mutex);
            ++wakes;
            called.notify_all();
        },
        log::Logger("zelvano.cadrio.sync", "app"), bus.address());
    ASSERT_TRUE(watch->watching());

    for (const bool sleeping : {true, false, true, false}) logind.announce(sleeping);
    {
        std::unique_lock lock(mutex);
        called.wait(lock, [&] { return wakes >= 2; });
    }
    watch.reset();  // joins: whatever was delivered has been handled
    EXPECT_EQ(wakes, 2);
}

TEST(WakeWatch, WithoutABusNothingIsWatchedAndThatIsSaidOnce) {
    const auto sink = std::make_shared<log::MemorySink>();
    const log::Logger logger("zelvano.cadrio.sync", "app", sink);
    const WakeWatch first([] {}, logger, "unix:path=/nonexistent/bus");
    const WakeWatch second([] {}, logger, "unix:path=/nonexistent/bus");
    EXPECT_FALSE(first.watching());
    EXPECT_FALSE(second.watching());
    EXPECT_EQ(sink->messages(), std::vector<std::string>{"Pas de bus système : réveil non suivi."});
}

}  // namespace
}  // namespace cadrio::desktop
