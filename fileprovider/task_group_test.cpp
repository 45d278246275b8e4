#include "fileprovider/task_group.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "fileprovider/concurrent_requests.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"

namespace cadrio {
namespace {

using testing::FakeDriveListing;

TEST(TaskGroupTest, ShutdownStopsRunningTasksAndWaitsForThem) {
    TaskGroup tasks;
    std::atomic<int> stopped = 0;
    for (int i = 0; i < 3; ++i) {
        tasks.start([&](std::stop_token stop) {
            try {
                FakeDriveListing::hangUntilStopped(stop);
            } catch (const CancellationError&) {
                ++stopped;
            }
        });
    }
    EXPECT_EQ(tasks.running(), 3u);
    tasks.shutdown();
    EXPECT_EQ(stopped, 3);
    EXPECT_EQ(tasks.running(), 0u);
}

TEST(TaskGroupTest, EachTaskCanBeCancelledAlone) {
    TaskGroup tasks;
    std::promise<bool> first;
    std::promise<bool> second;
    auto firstStop = tasks.start([&](std::stop_token stop) {
        try {
            FakeDriveListing::hangUntilStopped(stop);
        } catch (const CancellationError&) {
            first.set_value(true);
        }
    });
    tasks.start([&](std::stop_token stop) { second.set_value(stop.stop_requested()); });
    firstStop.request_stop();
    EXPECT_TRUE(first.get_future().get());
    EXPECT_FALSE(second.get_future().get());
}

TEST(TaskGroupTest, WorkStartedAfterShutdownStillAnswersAsCancelled) {
    TaskGroup tasks;
    tasks.shutdown();
    bool sawStop = false;
    tasks.start([&](std::stop_token stop) { sawStop = stop.stop_requested(); });
    EXPECT_TRUE(sawStop);
}

TEST(TaskGroupTest, ShutdownFromInsideATaskDoesNotWaitForItself) {
    auto tasks = std::make_shared<TaskGroup>();
    std::promise<void> done;
    tasks->start([&](std::stop_token) {
        tasks->shutdown();
        done.set_value();
    });
    EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(TaskGroupTest, ThrowingWorkDoesNotEndTheProcess) {
    TaskGroup tasks;
    tasks.start([](std::stop_token) { throw std::runtime_error("boom"); });
    tasks.shutdown();
    EXPECT_EQ(tasks.running(), 0u);
}

TEST(ConcurrentRequestsTest, BothRunAtOnceAndTheFirstFailureWins) {
    // Each request waits for the other to have started: only concurrent
    // requests get past that point.
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    const auto meet = [&] {
        std::unique_lock lock(mutex);
        ++started;
        changed.notify_all();
        changed.wait(lock, [&] { return started == 2; });
    };
    EXPECT_NO_THROW(runConcurrently([&](std::stop_token) { meet(); }, [&](std::stop_token) { meet(); }, {}));

    for (const bool firstFails : {true, false}) {
        bool otherSawStop = false;
        const Request failing = [](std::stop_token) { throw DriveError::notFound(); };
        const Request hanging = [&](std::stop_token stop) {
            try {
                FakeDriveListing::hangUntilStopped(stop);
            } catch (...) {
                otherSawStop = true;
                throw;
            }
        };
        EXPECT_THROW(firstFails ? runConcurrently(failing, hanging, {}) : runConcurrently(hanging, failing, {}),
                     DriveError);
        EXPECT_TRUE(otherSawStop);
    }
}

TEST(ConcurrentRequestsTest, AnOuterStopCancelsBoth) {
    std::stop_source outer;
    const Request hanging = [](std::stop_token stop) { FakeDriveListing::hangUntilStopped(stop); };
    std::jthread stopper([&] { outer.request_stop(); });
    EXPECT_THROW(runConcurrently(hanging, hanging, outer.get_token()), CancellationError);
}

}  // namespace
}  // namespace cadrio
