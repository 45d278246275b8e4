#include "core/support/clock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace cadrio {
namespace {

using namespace std::chrono_literals;

// Runs one sleepFor on its own thread and hands back its answer.
std::future<bool> sleepOnThread(Clock& clock, Clock::Duration d, std::stop_token stop = {}) {
    return std::async(std::launch::async, [&clock, d, stop] { return clock.sleepFor(d, stop); });
}

TEST(SystemClockTest, ZeroOrNegativeReturnsAtOnceUnlessStopped) {
    SystemClock clock;
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_TRUE(clock.sleepFor(0ns, {}));
    EXPECT_TRUE(clock.sleepFor(-5s, {}));
    EXPECT_FALSE(clock.sleepFor(0ns, stopped.get_token()));
    EXPECT_FALSE(clock.sleepFor(1h, stopped.get_token()));
}

TEST(SystemClockTest, StopEndsALongSleep) {
    // Also covers a duration so large that now + d would overflow.
    for (const Clock::Duration d : {Clock::Duration(1h), Clock::Duration::max()}) {
        SystemClock clock;
        std::stop_source source;
        auto result = sleepOnThread(clock, d, source.get_token());
        source.request_stop();
        ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
        EXPECT_FALSE(result.get());
    }
}

TEST(VirtualClockTest, CalendarTimeFollowsAdvancesAndJumpsAlone) {
    VirtualClock clock;
    const auto start = clock.now();
    EXPECT_EQ(clock.wallNow(), VirtualClock::kDefaultWallStart);
    clock.advance(90s);
    EXPECT_EQ(clock.wallNow(), VirtualClock::kDefaultWallStart + 90s);
    const Clock::WallTime jumped{std::chrono::seconds(4'000'000'000)};
    clock.setWallTime(jumped);
    EXPECT_EQ(clock.wallNow(), jumped);
    EXPECT_EQ(clock.now() - start, 90s);
}

TEST(VirtualClockTest, SleeperWakesWhenItsDeadlineIsReached) {
    VirtualClock clock;
    auto result = sleepOnThread(clock, 5s);
    ASSERT_TRUE(clock.waitForSleepers(1));
    EXPECT_EQ(clock.nextDeadline(), clock.now() + 5s);

    clock.advance(4999ms);
    EXPECT_EQ(clock.sleepers(), 1u);
    EXPECT_EQ(result.wait_for(0s), std::future_status::timeout);

    clock.advance(1ms);
    EXPECT_EQ(clock.sleepers(), 0u);
    EXPECT_TRUE(result.get());
    EXPECT_FALSE(clock.nextDeadline().has_value());
}

// The later sleeper's deadline would overflow: only its stop can wake it.
TEST(VirtualClockTest, AdvanceWakesOnlyTheSleepersItReaches) {
    VirtualClock clock;
    std::stop_source source;
    auto soon = sleepOnThread(clock, 1s);
    auto never = sleepOnThread(clock, Clock::Duration::max(), source.get_token());
    ASSERT_TRUE(clock.waitForSleepers(2));

    clock.advance(2s);
    EXPECT_TRUE(soon.get());
    clock.advance(24h * 365);
    EXPECT_EQ(clock.sleepers(), 1u);

    source.request_stop();
    EXPECT_FALSE(never.get());
    EXPECT_EQ(clock.sleepers(), 0u);
}

TEST(VirtualClockTest, AutoAdvanceMovesTimeByEachSleepAndRecordsIt) {
    VirtualClock clock;
    clock.setAutoAdvance(true);
    const auto start = clock.now();
    EXPECT_TRUE(clock.sleepFor(400ms, {}));
    EXPECT_TRUE(clock.sleepUntil(clock.now() + 800ms, {}));
    EXPECT_EQ(clock.now() - start, 1200ms);
    EXPECT_EQ(clock.sleepers(), 0u);
    EXPECT_EQ(clock.recordedSleeps(), (std::vector<Clock::Duration>{400ms, 800ms}));
}

TEST(VirtualClockTest, AutoAdvanceAlsoReleasesThreadsParkedBeforeIt) {
    VirtualClock clock;
    auto parked = sleepOnThread(clock, 2s);
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.setAutoAdvance(true);
    clock.sleepFor(3s, {});
    EXPECT_TRUE(parked.get());
}

}  // namespace
}  // namespace cadrio
