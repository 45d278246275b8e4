#include "platform/host/sleep_watch.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/desktop/fake_logind_testing.hpp"
#include "platform/host/private_bus_testing.hpp"

namespace cadrio::host {
namespace {

using desktop::testing::FakeLogind;

bool released(int inhibitor) {
    char byte = 0;
    return read(inhibitor, &byte, 1) == 0;  // blocks until the last write end closes
}

TEST(SleepWatch, TheInhibitorIsLetGoOnlyOnceUploadsArePausedAndTakenAgainOnWaking) {
    testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    FakeLogind logind(bus.address());
    std::mutex mutex;
    std::condition_variable called;
    std::vector<bool> calls;
    SleepWatch watch(
        [&](bool sleeping) {
            std::lock_guard lock(mutex);
            calls.push_back(sleeping);
            called.notify_all();
        },
        bus.address());
    ASSERT_TRUE(watch.watching());
    const int first = logind.nextInhibitor();

    logind.announce(true);
    EXPECT_TRUE(released(first));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(calls, std::vector<bool>{true});  // the handler ran before the release
    }
    logind.announce(false);
    logind.nextInhibitor();
    std::unique_lock lock(mutex);
    called.wait(lock, [&] { return calls.size() == 2; });
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST(SleepWatch, NoBusMeansNoWatchAndNoFailure) {
    const SleepWatch watch([](bool) {}, "unix:path=/nonexistent/bus");
    EXPECT_FALSE(watch.watching());
}

}  // namespace
}  // namespace cadrio::host
