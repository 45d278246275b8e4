#include "fileprovider/file_provider_enumerator.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "core/support/temporary_directory.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"
#include "fileprovider/testing/records.hpp"
#include "platform/fileprovider/testing/recording_observers.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

using fileprovider::testing::RecordingChangeObserver;
using fileprovider::testing::RecordingEnumerationObserver;
using testing::FakeDriveListing;
using testing::fileRecord;
using testing::folderRecord;
using Strings = std::vector<std::string>;

std::vector<std::string> identifiersOf(const std::vector<fileprovider::ItemPtr>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item->itemIdentifier().rawValue());
    return out;
}

std::vector<std::string> namesOf(const std::vector<fileprovider::ItemPtr>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item->filename());
    return out;
}

class EnumeratorTest : public ::testing::Test {
protected:
    std::shared_ptr<FileProviderEnumerator> enumerator(ItemIdentifier container, bool workingSet = false) {
        return std::make_shared<FileProviderEnumerator>(
            container, workingSet,
            FileProviderEnumerator::Context{api_, store_, tasks_, log::Logger("zelvano.cadrio.sync", "fileprovider", sink_)});
    }

    std::shared_ptr<RecordingEnumerationObserver> list(ItemIdentifier container, bool workingSet = false) {
        auto observer = std::make_shared<RecordingEnumerationObserver>();
        enumerator(container, workingSet)->enumerateItems(observer, fileprovider::Page::initialSortedByName());
        EXPECT_TRUE(observer->waitUntilFinished());
        return observer;
    }

    std::shared_ptr<RecordingChangeObserver> changes(std::string anchor) {
        auto observer = std::make_shared<RecordingChangeObserver>();
        enumerator(ItemIdentifier::root(), true)->enumerateChanges(observer, fileprovider::SyncAnchor{std::move(anchor)});
        EXPECT_TRUE(observer->waitUntilFinished());
        return observer;
    }

    /// The requests made, whatever order the concurrent ones took.
    std::multiset<std::string> callSet() const {
        const Strings calls = api_->calls();
        return {calls.begin(), calls.end()};
    }

    TemporaryDirectory directory_{"enumerator-test"};
    std::shared_ptr<FakeDriveListing> api_ = std::make_shared<FakeDriveListing>();
    std::shared_ptr<ItemStore> store_ = std::make_shared<ItemStore>(
        ItemStore::Locations{directory_ / "item-store-d.json", directory_ / "summary-d.json"});
    std::shared_ptr<TaskGroup> tasks_ = std::make_shared<TaskGroup>();
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
};

// Folder and root listings ---------------------------------------------------

TEST_F(EnumeratorTest, FolderListingGivesFoldersThenFilesInOneCallAndUpdatesTheStore) {
    store_->upsert(std::vector{folderRecord(90, "gone", 7)}, std::vector{fileRecord(91, "gone", 7)});
    api_->onFolders = [](auto, auto) { return std::vector{folderRecord(2, "z", 7), folderRecord(1, "a", 7)}; };
    api_->onFiles = [](auto, auto) { return std::vector{fileRecord(10, "b", 7), fileRecord(11, "a", 7)}; };

    const auto observer = list(ItemIdentifier::folder(7));

    EXPECT_EQ(observer->summaries(), (Strings{"didEnumerate(4)", "finishEnumerating(none)"}));
    EXPECT_EQ(identifiersOf(observer->allItems()), (Strings{"d:2", "d:1", "f:10", "f:11"}));
    EXPECT_EQ(callSet(), (std::multiset<std::string>{"folders(7)", "files(7)"}));
    EXPECT_EQ(store_->folder(90), std::nullopt);
    EXPECT_EQ(store_->file(91), std::nullopt);
    EXPECT_TRUE(store_->file(11).has_value());
    EXPECT_TRUE(std::filesystem::exists(directory_ / "item-store-d.json")) << "the listing is saved";
}

TEST_F(EnumeratorTest, AFailedFileListingCancelsTheOtherRequestAndKeepsTheStore) {
    store_->upsert({}, std::vector{fileRecord(5, "kept", 7)});
    std::promise<bool> folderRequestStopped;
    api_->onFolders = [&](auto, std::stop_token stop) -> std::vector<DriveFolder> {
        try {
            FakeDriveListing::hangUntilStopped(stop);
        } catch (...) {
            folderRequestStopped.set_value(true);
            throw;
        }
    };
    api_->onFiles = [](auto, auto) -> std::vector<DriveFile> { throw DriveError::http(502, "bad gateway"); };

    const auto observer = list(ItemIdentifier::folder(7));

    EXPECT_TRUE(folderRequestStopped.get_future().get());
    EXPECT_EQ(observer->summaries(), (Strings{"finishWithError(NSFileProviderErrorDomain,-1004)"}));
    EXPECT_TRUE(store_->file(5).has_value());
    EXPECT_FALSE(std::filesystem::exists(directory_ / "item-store-d.json"));
}

// Working set ------------------------------------------------------------------

TEST_F(EnumeratorTest, WorkingSetComesInSlicesOf500AfterTheStoreWasReplaced) {
    DriveChanges page{.cursor = 1834, .folders = {}, .files = {}};
    page.folders.push_back(folderRecord(1, "live"));
    page.folders.push_back(folderRecord(2, "trashed", std::nullopt, true));
    for (std::int64_t id = 100; id < 1100; ++id) page.files.push_back(fileRecord(id, "f", 1));
    page.files.push_back(fileRecord(5000, "archived", 1, StorageClass::glacier));
    page.files.push_back(fileRecord(5001, "binned", 1, StorageClass::standard, true));
    api_->onChanges = [&](auto, auto) { return page; };
    store_->upsert(std::vector{folderRecord(77, "stale")}, {});

    const auto observer = list(ItemIdentifier::root(), true);

    EXPECT_EQ(api_->calls(), (Strings{"changes(0)"}));
    EXPECT_EQ(observer->summaries(),
              (Strings{"didEnumerate(500)", "didEnumerate(500)", "didEnumerate(1)", "finishEnumerating(none)"}));
    const auto items = identifiersOf(observer->allItems());
    EXPECT_EQ(items.front(), "d:1");
    EXPECT_EQ(items.back(), "f:1099");
    EXPECT_EQ(store_->cursor(), 1834);
    EXPECT_EQ(store_->folder(77), std::nullopt) << "the store was replaced, not merged into";
}

// Anchors and changes -------------------------------------------------------------

TEST_F(EnumeratorTest, AnchorsOutsideTheLayoutExpireWithoutARequest) {
    const std::vector<std::string> old = {"42", "v2:42", "v3:", "v3:1x", "v3: 1", "V3:1", "", "v3:++1",
                                          "v3:9223372036854775808", std::string("v3:1\0", 5), "v3:\xFF"};
    for (const std::string& anchor : old) {
        EXPECT_EQ(changes(anchor)->summaries(), (Strings{"finishWithError(NSFileProviderErrorDomain,-1002)"}))
            << anchor;
    }
    EXPECT_TRUE(api_->calls().empty());
}

TEST_F(EnumeratorTest, ChangesStartFromTheOlderOfAnchorAndStore) {
    struct Case {
        std::string anchor;
        std::int64_t storeCursor;
        std::string request;
    };
    const std::vector<Case> cases = {
        {"v3:100", 40, "changes(40)"}, {"v3:30", 40, "changes(30)"}, {"v3:+7", 9, "changes(7)"},
        {"v3:-5", 0, "changes(-5)"}};
    for (const Case& c : cases) {
        const auto before = api_->calls().size();
        store_->setCursor(c.storeCursor);
        changes(c.anchor);
        EXPECT_EQ(api_->calls().at(before), c.request) << c.anchor;
    }
}

TEST_F(EnumeratorTest, TheStoreIsUpdatedBeforeTheHostIsTold) {
    class StoreCheckingObserver final : public fileprovider::ChangeObserver {
    public:
        explicit StoreCheckingObserver(ItemStore& store) : store_(store) {}
        void didDeleteItems(std::vector<fileprovider::ItemIdentifier>) override { cursorSeen = store_.cursor(); }
        void didUpdate(std::vector<fileprovider::ItemPtr>) override {}
        void finishEnumeratingChanges(fileprovider::SyncAnchor, bool) override { done.set_value(); }
        void finishEnumeratingWithError(fileprovider::Error) override { done.set_value(); }
        std::atomic<std::int64_t> cursorSeen = -1;
        std::promise<void> done;

    private:
        ItemStore& store_;
    };
    api_->onChanges = [](auto, auto) { return DriveChanges{.cursor = 99, .folders = {}, .files = {}}; };
    auto observer = std::make_shared<StoreCheckingObserver>(*store_);
    enumerator(ItemIdentifier::root(), true)->enumerateChanges(observer, fileprovider::SyncAnchor{"v3:0"});
    observer->done.get_future().wait();
    EXPECT_EQ(observer->cursorSeen, 99);
}

TEST_F(EnumeratorTest, EmptyAnswersStillFinish) {
    store_->upsert(std::vector{folderRecord(1, "top"), folderRecord(2, "inner", 1)}, {});
    EXPECT_EQ(list(ItemIdentifier::root())->summaries(), (Strings{"didEnumerate(0)", "finishEnumerating(none)"}));
    EXPECT_TRUE(!store_->folder(1) && store_->folder(2)) << "the root's listing drops the root's entries only";
    EXPECT_EQ(list(ItemIdentifier::root(), true)->summaries(), (Strings{"finishEnumerating(none)"}));
    api_->onChanges = [](auto since, auto) { return DriveChanges{.cursor = since, .folders = {}, .files = {}}; };
    EXPECT_EQ(changes("v3:0")->summaries(),
              (Strings{"didDeleteItems()", "didUpdate(0)", "finishEnumeratingChanges(v3:0,false)"}));
}

TEST_F(EnumeratorTest, FailedWorkingSetsAndChangesAreMappedAndLeaveTheStore) {
    struct Case {
        bool listing;
        DriveError thrown;
        std::string answer;
    };
    // An expired cursor must reach the host as an expired anchor, or it never lists again.
    const std::vector<Case> cases = {
        {true, DriveError::notAuthenticated(), "finishWithError(NSFileProviderErrorDomain,-1000)"},
        {false, DriveError::cursorExpired(), "finishWithError(NSFileProviderErrorDomain,-1002)"},
    };
    for (const Case& c : cases) {
        store_->replaceAll({}, std::vector{fileRecord(1, "kept")}, 12);
        api_->onChanges = [&](auto, auto) -> DriveChanges { throw c.thrown; };
        const Strings answer = c.listing ? list(ItemIdentifier::root(), true)->summaries() : changes("v3:12")->summaries();
        EXPECT_EQ(answer, (Strings{c.answer})) << c.listing;
        EXPECT_EQ(store_->cursor(), 12);
        EXPECT_TRUE(store_->file(1).has_value());
    }
}

// Two enumerations at once ---------------------------------------------------------

TEST_F(EnumeratorTest, AnAnswerOlderThanTheStoreDoesNotUndoNewerState) {
    // The drive at cursor 10 held file 8 as "old" and folder 3; at cursor 20
    // file 8 is "new", file 9 is gone and folder 3 is trashed.
    const DriveChanges olderState{.cursor = 10,
                                  .folders = {folderRecord(3, "bin")},
                                  .files = {fileRecord(8, "old"), fileRecord(9, "gone")}};
    const DriveChanges newerState{.cursor = 20, .folders = {}, .files = {fileRecord(8, "new")}};
    const DriveChanges newerPage{.cursor = 20,
                                 .folders = {folderRecord(3, "bin", std::nullopt, true)},
                                 .files = {fileRecord(8, "new"), fileRecord(9, "gone", std::nullopt,
                                                                            StorageClass::standard, true)}};
    for (const bool listingIsOlder : {true, false}) {
        store_->setCursor(0);
        store_->replaceAll({}, {}, 5);
        // The older request is on its way before the newer one is sent, and
        // its answer is held back until the newer one has been applied.
        std::promise<void> sent;
        std::promise<void> release;
        const std::shared_future<void> gate = release.get_future().share();
        api_->onChanges = [&](std::int64_t since, std::stop_token) {
            const bool older = (since == 0) == listingIsOlder;
            if (older) {
                sent.set_value();
                gate.wait();
            }
            if (since == 0) return older ? olderState : newerState;
            return older ? olderState : newerPage;
        };
        auto listing = std::make_shared<RecordingEnumerationObserver>();
        auto delta = std::make_shared<RecordingChangeObserver>();
        const std::function<void()> startListing = [&] {
            enumerator(ItemIdentifier::root(), true)
                ->enumerateItems(listing, fileprovider::Page::initialSortedByName());
        };
        const std::function<void()> startDelta = [&] {
            enumerator(ItemIdentifier::root(), true)->enumerateChanges(delta, fileprovider::SyncAnchor{"v3:5"});
        };
        (listingIsOlder ? startListing : startDelta)();
        sent.get_future().wait();
        (listingIsOlder ? startDelta : startListing)();
        EXPECT_TRUE((listingIsOlder ? delta->waitUntilFinished() : listing->waitUntilFinished()));
        release.set_value();
        ASSERT_TRUE(listing->waitUntilFinished() && delta->waitUntilFinished());

        EXPECT_EQ(store_->cursor(), 20) << listingIsOlder;
        EXPECT_EQ(store_->file(8)->name, "new") << listingIsOlder;
        EXPECT_EQ(store_->file(9), std::nullopt) << listingIsOlder;
        EXPECT_EQ(store_->folder(3), std::nullopt) << listingIsOlder;
        // Whichever came last, the host hears the newer state.
        EXPECT_EQ(namesOf(listing->allItems()), (Strings{"new"})) << listingIsOlder;
        const auto changes = delta->calls();
        ASSERT_EQ(changes.size(), 3u);
        EXPECT_EQ(changes[0].summary(), "didDeleteItems(d:3,f:9)") << listingIsOlder;
        EXPECT_EQ(namesOf(changes[1].items), (Strings{"new"})) << listingIsOlder;
        EXPECT_EQ(changes[2].summary(), listingIsOlder ? "finishEnumeratingChanges(v3:20,false)"
                                                       : "finishEnumeratingChanges(v3:10,false)")
            << "an older page keeps its own anchor, so the next request replays what came after";
    }
}

// Lifetime --------------------------------------------------------------------------

TEST_F(EnumeratorTest, ShutdownEndsARunningEnumerationWithOneCancellation) {
    api_->onChanges = [](auto, std::stop_token stop) -> DriveChanges { FakeDriveListing::hangUntilStopped(stop); };
    auto observer = std::make_shared<RecordingEnumerationObserver>();
    {
        auto workingSet = enumerator(ItemIdentifier::root(), true);
        workingSet->enumerateItems(observer, fileprovider::Page::initialSortedByName());
    }  // the host let go of the enumerator; the task keeps what it needs
    tasks_->shutdown();
    EXPECT_EQ(observer->summaries(), (Strings{"finishWithError(NSCocoaErrorDomain,3072)"}));
    EXPECT_TRUE(observer->violations().empty());
    EXPECT_EQ(tasks_->running(), 0u);
}

}  // namespace
}  // namespace cadrio
