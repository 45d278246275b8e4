#include "fileprovider/cancellable_task.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"
#include "platform/fileprovider/error.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using fileprovider::Progress;
using Completion = std::function<void(std::string, std::optional<Error>)>;

const auto kAnswerCancelled = [](const auto& complete) { complete("", Error::userCancelled()); };

class Answers {
public:
    std::promise<void> first;

    Completion completion() {
        return [this](std::string value, std::optional<Error> error) {
            LockGuard lock(mutex_);
            received_.emplace_back(std::move(value), std::move(error));
            if (received_.size() == 1) first.set_value();
        };
    }
    std::vector<std::pair<std::string, std::optional<Error>>> received() {
        LockGuard lock(mutex_);
        return received_;
    }

private:
    Mutex mutex_;
    std::vector<std::pair<std::string, std::optional<Error>>> received_ CADRIO_GUARDED_BY(mutex_);
};

// Running or still queued behind a busy thread, a cancelled task answers
// before its work ends, the work sees the stop, and its late answer is dropped.
TEST(CancellableTaskTest, CancellingAnswersAtOnceStopsTheWorkAndDropsItsLateAnswer) {
    for (const bool queued : {false, true}) {
        TaskGroup tasks(1);
        if (queued) {
            tasks.start([](std::stop_token stop) {  // holds the only thread
                try {
                    testing::FakeDriveListing::hangUntilStopped(stop);
                } catch (const CancellationError&) {
                }
            });
        }
        Answers answers;
        std::promise<bool> workSawStop;
        const auto progress =
            startCancellableTask(tasks, Progress::create(), answers.completion(), kAnswerCancelled,
                                 [&](std::stop_token stop, const auto& complete) {
                                     try {
                                         testing::FakeDriveListing::hangUntilStopped(stop);
                                     } catch (const CancellationError&) {
                                         workSawStop.set_value(true);
                                     }
                                     complete("late", {});
                                 });
        progress->cancel();
        EXPECT_EQ(answers.first.get_future().wait_for(std::chrono::seconds(0)), std::future_status::ready) << queued;
        tasks.shutdown();
        EXPECT_TRUE(workSawStop.get_future().get()) << queued;
        const auto received = answers.received();
        ASSERT_EQ(received.size(), 1u) << queued;
        EXPECT_EQ(received[0].second, Error::userCancelled()) << queued;
    }
}

TEST(CancellableTaskTest, RacingAnswersReachTheHostOnce) {
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> calls = 0;
        const GuardedCompletion<int> complete([&](int) { ++calls; });
        std::vector<std::jthread> racers;
        for (int i = 0; i < 4; ++i) racers.emplace_back([&, i] { complete(i); });
        racers.clear();
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(complete.hasAnswered());
    }
}

TEST(CancellableTaskTest, TheHostsClosureIsReleasedOnceItRan) {
    auto held = std::make_shared<int>(0);
    const GuardedCompletion<> complete([held] {});
    EXPECT_EQ(held.use_count(), 2);
    complete();
    EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
}  // namespace cadrio
