#include "platform/host/kernel_notifier.hpp"

#include <gtest/gtest.h>

#include <future>

namespace cadrio::host {
namespace {

KernelNotice entryNotice(const std::string& name) { return {KernelNotice::Kind::entry, 1, 0, name}; }

TEST(KernelNotifierTest, SendsInOrderOnlyWhileATargetIsSetAndSaysWhenDelivered) {
    KernelNotifier notifier;
    std::vector<std::string> sent;  // written by the worker, read after a delivery barrier
    auto barrier = [&notifier] {
        std::promise<void> delivered;
        notifier.whenDelivered([&delivered] { delivered.set_value(); });
        delivered.get_future().wait();
    };

    notifier.post({entryNotice("before mount")});
    barrier();
    notifier.setTarget([&sent](const KernelNotice& notice) { sent.push_back(notice.name); });
    notifier.post({entryNotice("a"), entryNotice("b")});
    notifier.post({});
    notifier.post({entryNotice("c")});
    barrier();
    EXPECT_EQ(sent, (std::vector<std::string>{"a", "b", "c"}));

    notifier.setTarget({});
    notifier.post({entryNotice("after unmount")});
    barrier();
    EXPECT_EQ(sent.size(), 3u);
}

}  // namespace
}  // namespace cadrio::host
