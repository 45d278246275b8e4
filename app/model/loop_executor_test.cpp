#include "app/model/loop_executor.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;

TEST(LoopExecutor, RunsPostsThenTimersByDeadlineUntilStopped) {
    VirtualClock clock;
    LoopExecutor loop(clock);
    std::vector<std::string> ran;  // written by the loop's thread only
    std::promise<void> lastTimer;
    loop.postAfter(2s, [&] {
        ran.push_back("2s");
        lastTimer.set_value();
    });
    loop.postAfter(1s, [&] { ran.push_back("1s"); });
    loop.cancel(loop.postAfter(1500ms, [&] { ran.push_back("cancelled"); }));
    std::jthread thread([&](std::stop_token stop) { loop.run(stop); });

    ASSERT_TRUE(clock.waitForSleepers(1));  // the posted-before-run timers are waited for
    std::promise<void> posted;
    loop.post([&] {
        ran.push_back("post");
        posted.set_value();
    });
    ASSERT_EQ(posted.get_future().wait_for(10s), std::future_status::ready);
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(3s);
    ASSERT_EQ(lastTimer.get_future().wait_for(10s), std::future_status::ready);
    thread.request_stop();  // ends the wait for a timer that never comes
    thread.join();
    EXPECT_EQ(ran, (std::vector<std::string>{"post", "1s", "2s"}));
}

TEST(LoopExecutor, AStopBeforeTheRunIsNotLost) {
    LoopExecutor loop(SystemClock::shared());
    loop.stop();
    loop.post([] { FAIL() << "ran after stop"; });
    loop.run();  // returns at once
}

}  // namespace
}  // namespace cadrio::app
