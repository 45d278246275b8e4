#include "fileprovider/item_store_saves.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "core/support/clock.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_snapshot.hpp"
#include "fileprovider/item_store.hpp"
#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using testing::fileRecord;

/// A file replacement that records what it writes and holds the first write
/// until the test lets it go.
class HeldWrites {
public:
    OrderedFileWriter::Write write() {
        return [this](const std::filesystem::path&, std::string_view bytes) {
            written_.emplace_back(bytes);
            if (written_.size() == 1) {
                entered_.set_value();
                release_.get_future().wait();
            }
        };
    }
    void waitUntilFirstWriteRuns() { entered_.get_future().wait(); }
    void releaseFirstWrite() { release_.set_value(); }
    /// Read once the writer is idle (after flush()).
    const std::vector<std::string>& written() const { return written_; }

private:
    std::promise<void> entered_;
    std::promise<void> release_;
    std::vector<std::string> written_;  // by the writer thread only
};

ItemStore::Locations locationsIn(const TemporaryDirectory& directory) {
    return {directory / "item-store-test.json", directory / "summary-test.json"};
}

TEST(ItemStoreSavesTest, SavesMadeDuringARewriteBecomeOneRewriteOfTheLatestState) {
    TemporaryDirectory directory("item-store-saves");
    HeldWrites writes;
    VirtualClock clock;
    ItemStore store(locationsIn(directory), {}, writes.write(), ItemStore::Saving::coalesced, clock);

    const DriveFile first = fileRecord(1, "a.txt");
    store.upsert({}, std::span(&first, 1));
    store.save();
    writes.waitUntilFirstWriteRuns();
    for (std::int64_t id = 2; id <= 20; ++id) {
        const DriveFile file = fileRecord(id, "f" + std::to_string(id) + ".txt");
        store.upsert({}, std::span(&file, 1));
        store.save();
    }
    store.setCursor(42);
    store.save();
    writes.releaseFirstWrite();
    store.flush();  // without waiting for the interval: the clock never moves

    ASSERT_EQ(writes.written().size(), 2u);
    const auto firstWritten = decodeSnapshot(writes.written()[0]);
    const auto lastWritten = decodeSnapshot(writes.written()[1]);
    ASSERT_TRUE(firstWritten && lastWritten);
    EXPECT_EQ(firstWritten->files.size(), 1u);
    EXPECT_EQ(lastWritten->files.size(), 20u);
    EXPECT_EQ(lastWritten->cursor, 42);
}

TEST(ItemStoreSavesTest, ABurstOfSavesWritesOnceTheIntervalHasPassed) {
    TemporaryDirectory directory("item-store-saves");
    std::atomic<int> writes = 0;
    VirtualClock clock;
    ItemStore store(
        locationsIn(directory), {}, [&](const std::filesystem::path&, std::string_view) { ++writes; },
        ItemStore::Saving::coalesced, clock);
    store.save();
    store.flush();
    EXPECT_EQ(writes, 1) << "a lone save writes at once";
    for (int i = 0; i < 5; ++i) store.save();
    ASSERT_TRUE(clock.waitForSleepers(1));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(clock.nextDeadline(), clock.now() + ItemStore::kRewriteInterval);
    clock.advance(ItemStore::kRewriteInterval);
    store.flush();
    EXPECT_EQ(writes, 2);
}

TEST(ItemStoreSavesTest, WhatWasSavedIsOnDiskOnceTheStoreIsGone) {
    TemporaryDirectory directory("item-store-saves");
    const DriveFile file = fileRecord(7, "rapport.pdf");
    DriveChanges page;
    page.cursor = 9;
    page.files = {fileRecord(8, "note.txt")};
    {
        VirtualClock clock;  // never moves: only the destructor can write the second save
        ItemStore store(locationsIn(directory), {}, {}, ItemStore::Saving::coalesced, clock);
        store.upsert({}, std::span(&file, 1));
        store.save();
        store.applyChanges(page);  // saves on its own, through the same writer
    }
    const ItemStore reopened(locationsIn(directory));
    EXPECT_TRUE(reopened.file(7));
    EXPECT_TRUE(reopened.file(8));
    EXPECT_EQ(reopened.cursor(), 9);
}

}  // namespace
}  // namespace cadrio
