#include "fileprovider/task_group.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <set>
#include <thread>

#include "fileprovider/concurrent_requests.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"

namespace cadrio {
namespace {

using testing::FakeDriveListing;

// Bounds waits that a correct group ends at once.
constexpr auto kSafety = std::chrono::seconds(10);

// Work that throws ends neither the group nor the process; work started
// after the shutdown still runs, and sees the stop.
TEST(TaskGroupTest, ShutdownStopsRunningAndQueuedTasksAndEachAnswers) {
    for (const std::size_t threads : {1u, 6u}) {
        TaskGroup tasks(threads);
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
        EXPECT_EQ(tasks.running(), 3u) << threads;
        tasks.start([](std::stop_token) { throw std::runtime_error("boom"); });
        tasks.shutdown();
        EXPECT_EQ(stopped, 3) << threads;
        EXPECT_EQ(tasks.running(), 0u) << threads;
        bool sawStop = false;
        tasks.start([&](std::stop_token stop) { sawStop = stop.stop_requested(); });
        EXPECT_TRUE(sawStop) << threads;
    }
}

TEST(TaskGroupTest, TasksShareTheGroupsThreads) {
    TaskGroup tasks(1);
    Mutex mutex;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 8; ++i) {
        tasks.start([&](std::stop_token) {
            LockGuard lock(mutex);
            threads.insert(std::this_thread::get_id());
        });
    }
    tasks.shutdown();  // may run what is still queued here
    LockGuard lock(mutex);
    threads.erase(std::this_thread::get_id());
    EXPECT_LE(threads.size(), 1u);
}

TEST(TaskGroupTest, EachTaskCanBeCancelledAlone) {
    for (const std::size_t threads : {1u, 6u}) {
        TaskGroup tasks(threads);
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
        EXPECT_FALSE(second.get_future().get()) << threads;
    }
}

TEST(TaskGroupTest, ShutdownFromInsideATaskRunsTheQueueAndDoesNotWaitForItself) {
    auto tasks = std::make_shared<TaskGroup>(1);
    std::promise<void> done;
    std::promise<bool> queuedSawStop;
    tasks->start([&, owner = tasks](std::stop_token) mutable {
        owner->shutdown();
        owner.reset();
        done.set_value();
    });
    tasks->start([&](std::stop_token stop) { queuedSawStop.set_value(stop.stop_requested()); });
    tasks.reset();  // the first task may hold the last reference
    auto answer = queuedSawStop.get_future();
    ASSERT_EQ(answer.wait_for(kSafety), std::future_status::ready);
    EXPECT_TRUE(answer.get());
    EXPECT_EQ(done.get_future().wait_for(kSafety), std::future_status::ready);
}

TEST(ConcurrentRequestsTest, BothRunAtOnceAndTheFirstFailureWins) {
    WorkPool pool(2);
    // Each request waits for the other to have started: only concurrent
    // requests get past that point.
    Mutex mutex;
    std::condition_variable_any changed;
    int started = 0;
    const auto meet = [&] {
        UniqueLock lock(mutex);
        ++started;
        changed.notify_all();
        while (started != 2) changed.wait(lock);
    };
    EXPECT_NO_THROW(runConcurrently([&](std::stop_token) { meet(); }, [&](std::stop_token) { meet(); }, {}, pool));

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
        EXPECT_THROW(firstFails ? runConcurrently(failing, hanging, {}, pool)
                                : runConcurrently(hanging, failing, {}, pool),
                     DriveError);
        EXPECT_TRUE(otherSawStop);
    }
}

TEST(ConcurrentRequestsTest, WithoutAFreeThreadTheSecondRunsAfterTheFirstOnTheCaller) {
    TaskGroup tasks(1);
    std::promise<std::set<std::thread::id>> threads;
    tasks.start([&](std::stop_token stop) {
        std::set<std::thread::id> ran;
        runConcurrently([&](std::stop_token) { ran.insert(std::this_thread::get_id()); },
                        [&](std::stop_token) { ran.insert(std::this_thread::get_id()); }, stop, tasks.pool());
        threads.set_value(ran);
    });
    auto answer = threads.get_future();
    ASSERT_EQ(answer.wait_for(kSafety), std::future_status::ready);
    EXPECT_EQ(answer.get().size(), 1u);
}

TEST(ConcurrentRequestsTest, AnOuterStopCancelsBoth) {
    WorkPool pool(2);
    std::stop_source outer;
    const Request hanging = [](std::stop_token stop) { FakeDriveListing::hangUntilStopped(stop); };
    std::jthread stopper([&] { outer.request_stop(); });
    EXPECT_THROW(runConcurrently(hanging, hanging, outer.get_token(), pool), CancellationError);
}

}  // namespace
}  // namespace cadrio
