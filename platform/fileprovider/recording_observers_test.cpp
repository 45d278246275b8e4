#include "platform/fileprovider/testing/recording_observers.hpp"

#include <gtest/gtest.h>

namespace cadrio::fileprovider::testing {
namespace {

ItemPtr itemNamed(std::string identifier) {
    auto item = std::make_shared<BasicItem>();
    item->identifier = ItemIdentifier(std::move(identifier));
    return item;
}

TEST(RecordingObserversTest, ChangeCallsKeepTheirOrderAndLateCallsAreFlagged) {
    RecordingChangeObserver observer;
    observer.didDeleteItems({ItemIdentifier("f:1"), ItemIdentifier("d:2")});
    observer.didUpdate({itemNamed("f:3")});
    observer.finishEnumeratingChanges(SyncAnchor{"v3:7"}, false);
    observer.didUpdate({itemNamed("f:4")});  // after the finish: a fault of the enumerator

    EXPECT_EQ(observer.summaries(), (std::vector<std::string>{"didDeleteItems(f:1,d:2)", "didUpdate(1)",
                                                               "finishEnumeratingChanges(v3:7,false)"}));
    EXPECT_TRUE(observer.isFinished());
    ASSERT_EQ(observer.violations().size(), 1u);
    EXPECT_EQ(observer.allItems().size(), 1u);
}

TEST(RecordingObserversTest, BinaryPagesAndAnchorsPrintAsHex) {
    RecordingEnumerationObserver observer;
    observer.didEnumerate({itemNamed("a"), itemNamed("b")});
    observer.finishEnumerating(Page{std::string("\x01\x00", 2)});
    EXPECT_EQ(observer.summaries(), (std::vector<std::string>{"didEnumerate(2)", "finishEnumerating(0x0100)"}));
    EXPECT_TRUE(observer.waitUntilFinished(std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace cadrio::fileprovider::testing
