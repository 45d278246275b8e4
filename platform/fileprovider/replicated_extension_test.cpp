#include "platform/fileprovider/replicated_extension.hpp"

#include <gtest/gtest.h>

#include "platform/fileprovider/testing/recording_observers.hpp"

namespace cadrio::fileprovider {
namespace {

// A plug-in that offers only the two entry points every plug-in must have.
class LookupOnlyExtension final : public ReplicatedExtension {
public:
    std::shared_ptr<Progress> item(const ItemIdentifier&, const Request&, ItemCompletion completion) override {
        completion(nullptr, Error::noSuchItem());
        return Progress::create();
    }
    std::shared_ptr<Enumerator> enumerator(const ItemIdentifier&, const Request&) override {
        throw ErrorException(Error::noSuchItem());
    }
};

struct Answer {
    int calls = 0;
    std::optional<Error> error;
    bool hadResult = false;  // an item, contents or thumbnail came with it

    void record(std::optional<Error> e, bool result) {
        ++calls;
        error = std::move(e);
        hadResult = hadResult || result;
    }
    ReplicatedExtension::ItemChangeCompletion itemChange() {
        return [this](ItemPtr item, ItemFields pending, bool refetch, std::optional<Error> e) {
            record(std::move(e), item != nullptr || refetch || pending != ItemFields::none);
        };
    }
};

TEST(ReplicatedExtensionTest, EntryPointsNotOfferedAnswerUnsupportedOnce) {
    LookupOnlyExtension extension;
    const ItemIdentifier file("f:1");
    const Request request;
    auto itemTemplate = std::make_shared<BasicItem>();

    struct Case {
        const char* entryPoint;
        std::function<std::shared_ptr<Progress>(Answer&)> call;
    };
    const Case cases[] = {
        {"fetchContents",
         [&](Answer& a) {
             return extension.fetchContents(file, std::nullopt, request, [&a](auto contents, ItemPtr item, auto error) {
                 a.record(std::move(error), contents.has_value() || item != nullptr);
             });
         }},
        {"createItem",
         [&](Answer& a) {
             return extension.createItem(itemTemplate, ItemFields::filename, std::nullopt,
                                         CreateItemOptions::mayAlreadyExist, request, a.itemChange());
         }},
        {"modifyItem",
         [&](Answer& a) {
             return extension.modifyItem(itemTemplate, ItemVersion{"c", "m"}, ItemFields::contents, "/tmp/x",
                                         ModifyItemOptions::none, request, a.itemChange());
         }},
        {"deleteItem",
         [&](Answer& a) {
             return extension.deleteItem(file, ItemVersion{}, DeleteItemOptions::recursive, request,
                                         [&a](auto error) { a.record(std::move(error), false); });
         }},
        {"fetchThumbnails",
         [&](Answer& a) {
             return extension.fetchThumbnails(
                 {file, ItemIdentifier("f:2")}, ThumbnailSize{256, 256},
                 [&a](const ItemIdentifier&, auto data, auto) { a.record(std::nullopt, data.has_value()); },
                 [&a](auto error) { a.record(std::move(error), false); });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entryPoint);
        Answer answer;
        const auto progress = c.call(answer);
        ASSERT_NE(progress, nullptr);
        progress->cancel();  // a late cancel must not answer again
        EXPECT_EQ(answer.calls, 1);
        EXPECT_FALSE(answer.hadResult);
        ASSERT_TRUE(answer.error.has_value());
        EXPECT_TRUE(answer.error->is(CocoaErrorCode::featureUnsupported));
        EXPECT_NE(answer.error->description.find(c.entryPoint), std::string::npos) << answer.error->description;
    }
}

// An enumerator that lists but keeps no change history.
class ListingOnlyEnumerator final : public Enumerator {
public:
    void invalidate() override {}
    void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page) override {
        observer->finishEnumerating(std::nullopt);
    }
};

TEST(EnumeratorTest, DefaultsAnswerWithoutPretendingToHaveChanges) {
    ListingOnlyEnumerator enumerator;
    auto changes = std::make_shared<testing::RecordingChangeObserver>();
    enumerator.enumerateChanges(changes, SyncAnchor{"v3:1"});
    EXPECT_EQ(changes->summaries(), std::vector<std::string>{"finishWithError(NSCocoaErrorDomain,3328)"});

    int anchorCalls = 0;
    enumerator.currentSyncAnchor([&](std::optional<SyncAnchor> anchor) {
        ++anchorCalls;
        EXPECT_FALSE(anchor.has_value());
    });
    EXPECT_EQ(anchorCalls, 1);
}

}  // namespace
}  // namespace cadrio::fileprovider
