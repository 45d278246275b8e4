#include "app/views/qt_executor.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace cadrio::app::views {
namespace {

using namespace std::chrono_literals;

// Runs the Qt event loop until `done` holds; the bound is real time, only
// there to fail a broken executor instead of hanging on it.
bool runUntil(const std::function<bool()>& done) {
    bool gaveUp = false;
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [&] { gaveUp = true; });
    safety.start(10000);
    while (!done() && !gaveUp) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

struct QtExecutorTest : ::testing::Test {
    VirtualClock clock;
    QtExecutor executor{clock};
    std::vector<std::string> ran;

    SerialExecutor::Job record(std::string name) {
        return [this, name] { ran.push_back(name); };
    }
};

TEST_F(QtExecutorTest, RunsJobsOnTheMainThreadInPostingOrder) {
    const auto mainThread = std::this_thread::get_id();
    bool onMain = true;
    executor.post([&] {
        ran.push_back("1");
        executor.post(record("4"));
    });
    executor.post(record("2"));
    std::thread([&] { executor.post(record("3")); }).join();
    executor.post([&] { onMain = std::this_thread::get_id() == mainThread; });

    ASSERT_TRUE(runUntil([&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_TRUE(onMain);
}

// Cancelled timers include one cancelled by a job due at its own instant.
TEST_F(QtExecutorTest, TimersFireOnTheInjectedClockInDeadlineOrderUnlessCancelled) {
    executor.postAfter(2s, record("late"));
    executor.postAfter(1s, record("first"));
    const auto early = executor.postAfter(1s, record("cancelled early"));
    executor.postAfter(1s, record("second"));
    SerialExecutor::TimerId sameInstant = 0;
    executor.postAfter(2s, [&] {
        ran.push_back("canceller");
        executor.cancel(sameInstant);
    });
    sameInstant = executor.postAfter(2s, record("cancelled when due"));
    executor.postAfter(2s, record("after"));
    executor.cancel(early);
    executor.cancel(early);  // twice, and an unknown id: both ignored
    executor.cancel(9999);

    clock.advance(1s);
    ASSERT_TRUE(runUntil([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    clock.advance(1s);
    ASSERT_TRUE(runUntil([&] { return ran.back() == "after"; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "late", "canceller", "after"}));
}

TEST(QtExecutorLifetime, JobsStillQueuedAtDestructionAreDropped) {
    VirtualClock clock;
    bool ran = false;
    {
        QtExecutor executor(clock);
        executor.post([&] { ran = true; });
        executor.postAfter(1s, [&] { ran = true; });
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace cadrio::app::views
