#include "core/support/work_pool.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace cadrio {
namespace {

using namespace std::chrono_literals;

// Bounds a wait that a correct pool ends at once; a deadlock fails instead
// of hanging the run.
constexpr auto kSafety = 10s;

TEST(WorkPoolTest, AJobWaitingForItsQueuedJobRunsItItselfWhenNoThreadIsFree) {
    WorkPool pool(1);
    std::promise<std::pair<std::thread::id, std::thread::id>> threads;
    pool.submit([&] {
        std::thread::id inner;
        const auto ticket = pool.submit([&] { inner = std::this_thread::get_id(); });
        pool.runOrWait(ticket);
        threads.set_value({std::this_thread::get_id(), inner});
    });
    auto answer = threads.get_future();
    ASSERT_EQ(answer.wait_for(kSafety), std::future_status::ready);
    const auto [outer, inner] = answer.get();
    EXPECT_EQ(outer, inner);
}

TEST(WorkPoolTest, RunOrWaitWaitsForAJobRunningOnAnotherThread) {
    WorkPool pool(1);
    std::promise<void> release;
    std::promise<void> blockerStarted;
    const auto blocker = pool.submit([&, gate = release.get_future().share()] {
        blockerStarted.set_value();
        gate.wait();
    });
    blockerStarted.get_future().wait();

    auto waited = std::async(std::launch::async, [&] { pool.runOrWait(blocker); });
    EXPECT_FALSE(blocker->isDone());
    release.set_value();
    ASSERT_EQ(waited.wait_for(kSafety), std::future_status::ready);
    EXPECT_TRUE(blocker->isDone());
}

TEST(WorkPoolTest, CloseFinishesTheQueueThenJobsRunOnTheCaller) {
    WorkPool pool(1);
    std::promise<void> release;
    pool.submit([gate = release.get_future().share()] { gate.wait(); });
    bool queuedRan = false;
    const auto queued = pool.submit([&] { queuedRan = true; });
    auto closing = std::async(std::launch::async, [&] { pool.close(); });
    release.set_value();
    ASSERT_EQ(closing.wait_for(kSafety), std::future_status::ready);
    EXPECT_TRUE(queuedRan);

    std::thread::id lateOn;
    const auto late = pool.submit([&] { lateOn = std::this_thread::get_id(); });
    EXPECT_TRUE(late->isDone());
    EXPECT_EQ(lateOn, std::this_thread::get_id());
}

TEST(WorkPoolTest, APoolDestroyedByItsOwnJobDoesNotJoinThatThread) {
    auto pool = std::make_unique<WorkPool>(2);
    std::promise<void> submitted;
    std::promise<void> done;
    pool->submit([&, ready = submitted.get_future().share()] {
        ready.wait();
        pool.reset();
        done.set_value();
    });
    submitted.set_value();
    EXPECT_EQ(done.get_future().wait_for(kSafety), std::future_status::ready);
}

}  // namespace
}  // namespace cadrio
