// The enumerator against the local drive server seeded with the demo drive:
// the working set as the host first lists it, then changes made on the
// server as another device would, from the anchor the host was given.

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <future>
#include <map>
#include <set>
#include <string>

#include "core/http/curl_transport.hpp"
#include "core/support/temporary_directory.hpp"
#include "devserver/dev_server.hpp"
#include "fileprovider/drive_api_listing.hpp"
#include "fileprovider/file_provider_enumerator.hpp"
#include "fileprovider/sync_anchor.hpp"
#include "platform/fileprovider/testing/recording_observers.hpp"
#include "platform/log/log_sink.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

using fileprovider::ItemPtr;
using fileprovider::SyncAnchor;
using fileprovider::testing::RecordingChangeObserver;
using fileprovider::testing::RecordingEnumerationObserver;

constexpr const char* kDemo = "demo@cadrio.test";

/// Item names by identifier.
std::map<std::string, std::string> namesOf(const std::vector<ItemPtr>& items) {
    std::map<std::string, std::string> names;
    for (const ItemPtr& item : items) names[item->itemIdentifier().rawValue()] = item->filename();
    return names;
}

std::string identifierNamed(const std::map<std::string, std::string>& names, const std::string& name) {
    for (const auto& [identifier, itemName] : names) {
        if (itemName == name) return identifier;
    }
    ADD_FAILURE() << "no item named " << name;
    return {};
}

std::int64_t idOf(const std::string& identifier) { return std::stoll(identifier.substr(2)); }

class EnumeratorIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::startDemoServer();
        auto client = testing::makeDemoClient(*server_);
        ASSERT_TRUE(client->login(kDemo, testing::kDemoPassword).isSignedIn());
        listing_ = std::make_shared<DriveAPIListing>(std::make_shared<const DriveAPI>(client));
    }
    void TearDown() override {
        tasks_->shutdown();
        server_->stop();
    }

    std::shared_ptr<FileProviderEnumerator> enumerator(ItemIdentifier container, bool workingSet) {
        return std::make_shared<FileProviderEnumerator>(
            container, workingSet,
            FileProviderEnumerator::Context{listing_, store_, tasks_,
                                            log::Logger("zelvano.cadrio.sync", "fileprovider", sink_)});
    }
    std::shared_ptr<RecordingEnumerationObserver> list(ItemIdentifier container, bool workingSet = false) {
        auto observer = std::make_shared<RecordingEnumerationObserver>();
        enumerator(container, workingSet)->enumerateItems(observer, fileprovider::Page::initialSortedByName());
        EXPECT_TRUE(observer->waitUntilFinished());
        return observer;
    }
    std::shared_ptr<RecordingChangeObserver> changes(const SyncAnchor& anchor) {
        auto observer = std::make_shared<RecordingChangeObserver>();
        enumerator(ItemIdentifier::root(), true)->enumerateChanges(observer, anchor);
        EXPECT_TRUE(observer->waitUntilFinished());
        return observer;
    }
    SyncAnchor currentAnchor() {
        std::promise<std::optional<SyncAnchor>> answer;
        enumerator(ItemIdentifier::root(), true)->currentSyncAnchor([&](auto anchor) { answer.set_value(anchor); });
        return answer.get_future().get().value();
    }

    /// An admin request acting on the demo drive; fails the test unless 200.
    void admin(const std::string& path, nlohmann::json body) {
        body["email"] = kDemo;
        httplib::Client http("127.0.0.1", server_->port());
        const auto result = http.Post(path, body.dump(), "application/json");
        ASSERT_TRUE(result) << path;
        ASSERT_EQ(result->status, 200) << path << ": " << result->body;
    }

    std::unique_ptr<devserver::DevServer> server_;
    TemporaryDirectory directory_{"enumerator-integration"};
    std::shared_ptr<ItemStore> store_ = std::make_shared<ItemStore>(
        ItemStore::Locations{directory_ / "item-store-demo.json", directory_ / "summary-demo.json"});
    std::shared_ptr<TaskGroup> tasks_ = std::make_shared<TaskGroup>();
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    std::shared_ptr<DriveListing> listing_;
};

TEST_F(EnumeratorIntegrationTest, WorkingSetThenChangesFromTheReturnedAnchor) {
    const auto workingSet = list(ItemIdentifier::root(), true);
    ASSERT_EQ(workingSet->calls().back().summary(), "finishEnumerating(none)");
    const auto names = namesOf(workingSet->allItems());
    std::set<std::string> shown;
    for (const auto& [identifier, name] : names) shown.insert(name);
    EXPECT_EQ(shown, (std::set<std::string>{"Documents", "Photos", "2024", "Archives", "Notes.txt", "Rapport.pdf",
                                            "plage.jpg"}));
    const SyncAnchor anchor = currentAnchor();
    EXPECT_EQ(anchor, syncAnchor(store_->cursor()));

    const std::string notes = identifierNamed(names, "Notes.txt");
    const std::string report = identifierNamed(names, "Rapport.pdf");
    const std::string beach = identifierNamed(names, "plage.jpg");
    admin("/_admin/drive/rename", {{"kind", "file"}, {"id", idOf(notes)}, {"name", "Notes renommées.txt"}});
    admin("/_admin/drive/trash", {{"kind", "file"}, {"id", idOf(report)}});
    admin("/_admin/drive/storage-class", {{"id", idOf(beach)}, {"storage_class", "glacier"}});
    admin("/_admin/drive/folders", {{"name", "Nouveau"}});

    const auto delta = changes(anchor);
    const auto calls = delta->calls();
    ASSERT_EQ(calls.size(), 3u);
    ASSERT_EQ(calls[0].kind, fileprovider::testing::ObserverCall::Kind::didDeleteItems);
    std::set<std::string> deleted;
    for (const auto& identifier : calls[0].identifiers) deleted.insert(identifier.rawValue());
    EXPECT_EQ(deleted, (std::set<std::string>{report, beach}));
    const auto updated = namesOf(calls[1].items);
    EXPECT_EQ(updated.at(notes), "Notes renommées.txt");
    EXPECT_EQ(updated.count(report) + updated.count(beach), 0u);
    EXPECT_FALSE(identifierNamed(updated, "Nouveau").empty());
    EXPECT_NE(*calls[2].anchor, anchor);
    EXPECT_FALSE(calls[2].moreComing);
    EXPECT_TRUE(store_->summary().archivedFileIDs.contains(idOf(beach)));
    EXPECT_EQ(store_->file(idOf(notes))->name, "Notes renommées.txt");
}

}  // namespace
}  // namespace cadrio
