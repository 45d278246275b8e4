#include "platform/fileprovider/progress.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

namespace cadrio::fileprovider {
namespace {

TEST(ProgressTest, FractionCountsChildrenByTheirShare) {
    struct ChildSetup {
        std::int64_t pending, total, completed;
    };
    struct Case {
        const char* name;
        std::int64_t total, completed;
        std::vector<ChildSetup> children;
        double fraction;
        std::int64_t completedAfter;  // finished children fold their units in
        bool finished;
        bool childrenDoneBeforeAdded;
    };
    const Case cases[] = {
        {"no children", 100, 25, {}, 0.25, 25, false, false},
        {"finished child folds", 100, 0, {{60, 10, 5}, {40, 4, 4}}, 0.70, 40, false, false},
        {"all children finished", 100, 0, {{50, 1, 1}, {50, 2, 2}}, 1.0, 100, true, false},
        {"child finished before it was added", 10, 0, {{10, 2, 2}}, 1.0, 10, true, true},
        {"own units plus child", 10, 4, {{6, 3, 1}}, 0.6, 4, false, false},
        {"child with no total counts nothing", 10, 0, {{10, 0, 0}}, 0.0, 0, false, false},
        {"indeterminate child counts nothing", 10, 0, {{10, -1, -1}}, 0.0, 0, false, false},
        {"overfull is clamped", 10, 25, {}, 1.0, 25, true, false},
        {"no total", 0, 5, {{10, 1, 1}}, 0.0, 15, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto parent = Progress::create(c.total);
        parent->setCompletedUnitCount(c.completed);
        std::vector<std::shared_ptr<Progress>> children;
        for (const auto& setup : c.children) {
            auto child = Progress::create(setup.total);
            if (c.childrenDoneBeforeAdded) child->setCompletedUnitCount(setup.completed);
            parent->addChild(child, setup.pending);
            if (!c.childrenDoneBeforeAdded) child->setCompletedUnitCount(setup.completed);
            children.push_back(child);
        }
        EXPECT_DOUBLE_EQ(parent->fractionCompleted(), c.fraction);
        EXPECT_EQ(parent->completedUnitCount(), c.completedAfter);
        EXPECT_EQ(parent->isFinished(), c.finished);
    }
}

TEST(ProgressTest, FinishedGrandchildFinishesTheWholeChain) {
    auto root = Progress::create(100);
    auto middle = Progress::create(10);
    auto leaf = Progress::create(1000);
    root->addChild(middle, 100);
    middle->addChild(leaf, 10);

    leaf->setCompletedUnitCount(500);
    EXPECT_DOUBLE_EQ(root->fractionCompleted(), 0.5);
    leaf->setCompletedUnitCount(1000);
    EXPECT_EQ(middle->completedUnitCount(), 10);
    EXPECT_EQ(root->completedUnitCount(), 100);
    EXPECT_TRUE(root->isFinished());

    // A finish is counted once, even if the child moves again.
    leaf->setCompletedUnitCount(999);
    leaf->setCompletedUnitCount(1000);
    EXPECT_EQ(middle->completedUnitCount(), 10);
}

TEST(ProgressTest, RejectsChildrenThatWouldBreakTheTree) {
    auto parent = Progress::create(10);
    auto child = Progress::create(10);
    auto grandchild = Progress::create(10);
    parent->addChild(child, 5);
    child->addChild(grandchild, 5);

    EXPECT_THROW(parent->addChild(nullptr, 1), std::invalid_argument);
    EXPECT_THROW(parent->addChild(parent, 1), std::invalid_argument);
    EXPECT_THROW(grandchild->addChild(parent, 1), std::invalid_argument);
    EXPECT_THROW(Progress::create(10)->addChild(child, 1), std::invalid_argument);
}

// The handler runs outside the lock: reading its own progress, as completion
// code does, must not deadlock.
TEST(ProgressTest, CancelCallsTheHandlerOnceAndReachesChildren) {
    auto parent = Progress::create(10);
    auto child = Progress::create(10);
    parent->addChild(child, 10);
    int parentCalls = 0;
    int childCalls = 0;
    bool sawCancelled = false;
    parent->setCancellationHandler([&] {
        ++parentCalls;
        sawCancelled = parent->isCancelled();
    });
    child->setCancellationHandler([&] { ++childCalls; });

    parent->cancel();
    parent->cancel();
    EXPECT_TRUE(sawCancelled);
    EXPECT_TRUE(child->isCancelled());
    EXPECT_EQ(parentCalls, 1);
    EXPECT_EQ(childCalls, 1);

    // Late handlers run at once; late children are cancelled on arrival.
    int lateCalls = 0;
    parent->setCancellationHandler([&] { ++lateCalls; });
    EXPECT_EQ(lateCalls, 1);
    auto lateChild = Progress::create(1);
    parent->addChild(lateChild, 1);
    EXPECT_TRUE(lateChild->isCancelled());
}

TEST(ProgressTest, ConcurrentCancelsRunTheHandlerExactlyOnce) {
    constexpr int kRounds = 200;
    constexpr int kThreads = 4;
    for (int round = 0; round < kRounds; ++round) {
        auto progress = Progress::create(1);
        std::atomic<int> calls{0};
        std::barrier start(kThreads + 1);
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                start.arrive_and_wait();
                progress->cancel();
            });
        }
        // Installing races with the cancels: whichever side comes second
        // runs the handler, and only that one.
        start.arrive_and_wait();
        progress->setCancellationHandler([&] { calls.fetch_add(1); });
        threads.clear();
        ASSERT_EQ(calls.load(), 1) << "round " << round;
    }
}

TEST(ProgressTest, ConcurrentChildrenFoldEveryUnit) {
    constexpr int kChildren = 8;
    constexpr int kSteps = 100;
    auto parent = Progress::create(kChildren * 10);
    std::vector<std::jthread> threads;
    for (int i = 0; i < kChildren; ++i) {
        auto child = Progress::create(kSteps);
        parent->addChild(child, 10);
        threads.emplace_back([child, parent] {
            for (int step = 1; step <= kSteps; ++step) {
                child->setCompletedUnitCount(step);
                const double fraction = parent->fractionCompleted();
                EXPECT_GE(fraction, 0.0);
                EXPECT_LE(fraction, 1.0);
            }
        });
    }
    threads.clear();
    EXPECT_EQ(parent->completedUnitCount(), kChildren * 10);
}

}  // namespace
}  // namespace cadrio::fileprovider
