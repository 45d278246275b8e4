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

}  // namespace
}  // namespace cadrio
