#include "fileprovider/item_store.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_snapshot.hpp"
#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using testing::fileRecord;
using testing::folderRecord;

const Date kConflictDate = dateFromUnixSeconds(std::int64_t{1'709'644'020});

class ItemStoreTest : public ::testing::Test {
protected:
    ItemStore::Locations locations() const {
        return {directory_ / "item-store-test.json", directory_ / "summary-test.json"};
    }
    std::unique_ptr<ItemStore> open() const {
        return std::make_unique<ItemStore>(locations(), [] { return kConflictDate; });
    }
    std::string read(const std::string& name) const { return readWholeFile(directory_ / name, 1 << 26); }
    bool exists(const std::string& name) const { return std::filesystem::exists(directory_ / name); }
    void write(const std::string& name, const std::string& bytes) const { writeFileAtomically(directory_ / name, bytes); }
    nlohmann::json snapshotJSON() const { return nlohmann::json::parse(read("item-store-test.json")); }

    static std::vector<std::int64_t> ids(const auto& records) {
        std::vector<std::int64_t> out;
        for (const auto& record : records) out.push_back(record.id);
        return out;
    }

    TemporaryDirectory directory_{"item-store-test"};
};

TEST_F(ItemStoreTest, DamagedSnapshotReadsAsAbsentAndIsReplacedByTheNextSave) {
    // A half-written file and a file of another kind; recognising the rest is item_snapshot's job.
    const std::vector<std::string> damaged = {"{\"cursor\":12,\"folders\":[", R"({"archivedFileIDs":[1],"conflicts":[]})"};
    for (const std::string& bytes : damaged) {
        write("item-store-test.json", bytes);
        const auto store = open();
        EXPECT_EQ(store->cursor(), 0) << bytes;
        EXPECT_EQ(store->fileCount() + store->folderCount(), 0u) << bytes;
        EXPECT_EQ(read("item-store-test.json"), bytes) << "left as it is until the next save";
        store->setCursor(3);
        store->save();
        EXPECT_EQ(snapshotJSON()["cursor"], 3);
    }
}

TEST_F(ItemStoreTest, SaveAndReloadGiveTheSameStore) {
    DriveFile bare = fileRecord(11, "bare", 1);
    bare.contentHash.reset();
    bare.uploadTimestamp.reset();
    {
        const auto store = open();
        store->replaceAll(std::vector{folderRecord(1, "Docs"), folderRecord(2, "Sub", 1)},
                          std::vector{bare, fileRecord(12, "b.pdf", 2), fileRecord(13, "old", 2, StorageClass::glacier)},
                          77);
        store->recordConflict("b.pdf", "b (conflit Linux 2024-03-05 14h07).pdf");
    }
    const auto reloaded = open();
    EXPECT_EQ(reloaded->cursor(), 77);
    EXPECT_EQ(reloaded->folder(2), folderRecord(2, "Sub", 1));
    EXPECT_EQ(reloaded->file(11), bare);
    EXPECT_EQ(reloaded->file(12), fileRecord(12, "b.pdf", 2));
    EXPECT_EQ(reloaded->file(13), std::nullopt);
    const DomainSummary summary = reloaded->summary();
    EXPECT_EQ(summary.archivedFileIDs, (std::set<std::int64_t>{13}));
    ASSERT_EQ(summary.conflicts.size(), 1u);
    EXPECT_EQ(summary.conflicts[0].date, kConflictDate);
}

TEST_F(ItemStoreTest, ChildrenAreSortedByCanonicalName) {
    const auto store = open();
    store->upsert(std::vector{folderRecord(1, "a"), folderRecord(2, "B"), folderRecord(3, "x", 1)},
                  std::vector{fileRecord(10, "cafe\xCC\x81"), fileRecord(11, "caff"), fileRecord(12, "cafe"),
                              fileRecord(13, "caf\xC3\xA9"), fileRecord(14, "elsewhere", 1)});
    const auto root = store->children(std::nullopt);
    EXPECT_EQ(ids(root.folders), (std::vector<std::int64_t>{2, 1}));
    // Equivalent names keep a fixed order (by id) whatever the map's order.
    EXPECT_EQ(ids(root.files), (std::vector<std::int64_t>{12, 11, 10, 13}));
    EXPECT_EQ(ids(store->children(1).files), (std::vector<std::int64_t>{14}));
}

TEST_F(ItemStoreTest, ReplaceChildrenTouchesOnlyTheListedParent) {
    const auto store = open();
    store->upsert(std::vector{folderRecord(1, "root child"), folderRecord(7, "seven"), folderRecord(8, "in 7", 7),
                              folderRecord(9, "in 1", 1)},
                  std::vector{fileRecord(20, "root file"), fileRecord(21, "in 7", 7), fileRecord(22, "in 1", 1)});

    store->replaceChildren(7, {}, {}, store->listingStamp());
    EXPECT_EQ(store->folder(8), std::nullopt);
    EXPECT_EQ(store->file(21), std::nullopt);
    EXPECT_EQ(store->folderCount(), 3u);
    EXPECT_EQ(store->fileCount(), 2u);

    store->replaceChildren(std::nullopt, std::vector{folderRecord(7, "seven renamed"), folderRecord(30, "new")},
                           std::vector{fileRecord(31, "new file")}, store->listingStamp());
    EXPECT_EQ(store->folder(1), std::nullopt);
    EXPECT_EQ(store->file(20), std::nullopt);
    EXPECT_EQ(store->folder(7)->name, "seven renamed");
    EXPECT_TRUE(store->folder(9).has_value()) << "entries under other parents stay";
    EXPECT_TRUE(store->file(22).has_value());
    EXPECT_TRUE(store->file(31).has_value());
}

TEST_F(ItemStoreTest, ALateListingLeavesWhatWasWrittenSinceItWasAskedFor) {
    const auto store = open();
    store->upsert({}, std::vector{fileRecord(1, "old"), fileRecord(2, "gone")});
    const ItemStore::ListingStamp asked = store->listingStamp();
    // An answer renames 1, another device's new file comes in, 2 goes.
    store->upsert({}, std::vector{fileRecord(1, "new"), fileRecord(3, "arrived")});
    store->removeFile(2);
    store->replaceChildren(std::nullopt, {}, std::vector{fileRecord(1, "old"), fileRecord(2, "gone")}, asked);
    EXPECT_EQ(store->file(1)->name, "new");
    EXPECT_EQ(store->file(2), std::nullopt);
    EXPECT_TRUE(store->file(3).has_value());
}

TEST_F(ItemStoreTest, ApplyChangesReportsWithdrawnItemsFoldersFirstAndCountsArchives) {
    const auto store = open();
    store->replaceAll(std::vector{folderRecord(1, "a"), folderRecord(2, "b")},
                      std::vector{fileRecord(10, "x", 1), fileRecord(11, "y"), fileRecord(12, "z")}, 40);

    DriveChanges page{.cursor = 41,
                      .folders = {folderRecord(2, "b", std::nullopt, true), folderRecord(3, "new")},
                      .files = {fileRecord(10, "x", 1, StorageClass::glacier), fileRecord(11, "y", 3),
                                fileRecord(12, "z", std::nullopt, StorageClass::standard, true)}};
    const auto withdrawn = store->applyChanges(page);
    EXPECT_EQ(withdrawn, (std::vector{ItemIdentifier::folder(2), ItemIdentifier::file(10), ItemIdentifier::file(12)}));
    EXPECT_EQ(store->cursor(), 41);
    EXPECT_EQ(store->file(11)->parentFolderID, 3);
    EXPECT_TRUE(store->file(10) == std::nullopt && store->folder(2) == std::nullopt);
    EXPECT_EQ(store->folder(1)->name, "a") << "children of a trashed folder wait for their own page";
    EXPECT_EQ(DomainSummary::load(locations().summary)->archivedFileIDs, (std::set<std::int64_t>{10}));
    // A retry after a restart still finds what was withdrawn.
    EXPECT_TRUE(open()->withdrawnFile(10) && open()->withdrawnFile(12));

    // Back to standard storage: no longer archived, nor withdrawn.
    store->applyChanges(DriveChanges{.cursor = 42, .folders = {}, .files = {fileRecord(10, "x", 1)}});
    EXPECT_TRUE(store->summary().archivedFileIDs.empty());
    EXPECT_TRUE(store->file(10).has_value());
    const auto reopened = open();
    EXPECT_TRUE(!reopened->withdrawnFile(10) && reopened->withdrawnFile(12));
}

TEST_F(ItemStoreTest, AnOlderPageOrListingDoesNotUndoNewerState) {
    struct Case {
        const char* name;
        std::function<bool(ItemStore&)> apply;
        bool applied;
        std::int64_t cursor;
    };
    const auto older = std::vector{fileRecord(8, "older")};
    const auto page = [&](std::int64_t cursor) {
        return DriveChanges{.cursor = cursor, .folders = {}, .files = older};
    };
    const std::vector<Case> cases = {
        {"older page", [&](ItemStore& s) { return s.applyChanges(page(10)).has_value(); }, false, 20},
        {"page of the same cursor", [&](ItemStore& s) { return s.applyChanges(page(20)).has_value(); }, true, 20},
        {"older listing", [&](ItemStore& s) { return s.replaceAll({}, older, 10); }, false, 20},
        {"older listing, the store moved since it was asked for",
         [&](ItemStore& s) { return s.replaceAll({}, older, 10, 5); }, false, 20},
        {"older listing, the store has not moved: the drive went back",
         [&](ItemStore& s) { return s.replaceAll({}, older, 10, 20); }, true, 10},
    };
    for (const Case& c : cases) {
        const auto store = open();
        store->replaceAll({}, std::vector{fileRecord(8, "newer")}, 20);
        EXPECT_EQ(c.apply(*store), c.applied) << c.name;
        EXPECT_EQ(store->file(8)->name, c.applied ? "older" : "newer") << c.name;
        EXPECT_EQ(store->cursor(), c.cursor) << c.name;
        EXPECT_EQ(snapshotJSON()["cursor"], c.cursor) << c.name;
    }
}

TEST_F(ItemStoreTest, ReadsAndChangesGoOnWhileTheSnapshotIsBeingWritten) {
    std::promise<void> writing;
    std::promise<void> release;
    std::atomic<bool> blocked = false;
    const auto writer = [&, gate = release.get_future().share()](const auto& path, std::string_view bytes) {
        if (path == locations().snapshot && !blocked.exchange(true)) {
            writing.set_value();
            gate.wait();
        }
        writeFileAtomically(path, bytes);
    };
    ItemStore store(locations(), {}, writer);
    store.upsert({}, std::vector{fileRecord(1, "a")});
    std::jthread saver([&] { store.save(); });
    writing.get_future().wait();

    auto meanwhile = std::async(std::launch::async, [&] {
        store.upsert({}, std::vector{fileRecord(2, "b")});
        return store.file(1).has_value() && store.fileCount() == 2;
    });
    const bool answered = meanwhile.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(answered) << "the store waited for the disk";
    EXPECT_TRUE(meanwhile.get());
}

TEST_F(ItemStoreTest, ConcurrentChangesAllLandAndEverySavedFileIsWhole) {
    const auto store = open();
    constexpr int kThreads = 4;
    constexpr int kPages = 8;
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int p = 0; p < kPages; ++p) {
                const std::int64_t id = t * 1000 + p;
                // Pages of one cursor all land; the saves race each other.
                store->applyChanges(DriveChanges{.cursor = 1, .folders = {}, .files = {fileRecord(id, "f")}});
                store->upsert(std::vector{folderRecord(id, "d")}, {});
                store->save();
            }
        });
    }
    std::jthread reader([&] {
        for (int i = 0; i < 50; ++i) {
            if (exists("item-store-test.json")) {
                EXPECT_TRUE(decodeSnapshot(read("item-store-test.json")).has_value());
            }
        }
    });
    writers.clear();
    reader.join();
    const auto reloaded = open();
    EXPECT_EQ(reloaded->fileCount(), std::size_t{kThreads * kPages}) << "the last save written is the newest";
    EXPECT_EQ(reloaded->folderCount(), std::size_t{kThreads * kPages});
}

}  // namespace
}  // namespace cadrio
