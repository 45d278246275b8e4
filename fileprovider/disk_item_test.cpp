#include "fileprovider/disk_item.hpp"

#include <gtest/gtest.h>

#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using testing::fileRecord;
using testing::folderRecord;

std::string raw(const fileprovider::ItemIdentifier& identifier) { return identifier.rawValue(); }

TEST(DiskItemTest, ParentsBelowOneAreTheRoot) {
    for (const std::optional<std::int64_t> parent : {std::optional<std::int64_t>(), std::optional<std::int64_t>(0),
                                                     std::optional<std::int64_t>(-4)}) {
        EXPECT_EQ(raw(DiskItem::file(fileRecord(1, "a", parent))->parentItemIdentifier()),
                  "NSFileProviderRootContainerItemIdentifier");
        EXPECT_EQ(raw(DiskItem::folder(folderRecord(1, "a", parent))->parentItemIdentifier()),
                  "NSFileProviderRootContainerItemIdentifier");
    }
}

TEST(DiskItemTest, RenameOrMoveChangesOnlyTheMetadataVersion) {
    const DriveFile original = fileRecord(7, "a.txt", 3);
    const auto before = DiskItem::file(original)->itemVersion();
    const auto renamed = DiskItem::file(original.with("b.txt", 3))->itemVersion();
    const auto moved = DiskItem::file(original.with("a.txt", 4))->itemVersion();
    EXPECT_EQ(renamed.contentVersion, before.contentVersion);
    EXPECT_EQ(moved.contentVersion, before.contentVersion);
    EXPECT_NE(renamed.metadataVersion, before.metadataVersion);
    EXPECT_NE(moved.metadataVersion, before.metadataVersion);
    DriveFile newContent = original;
    newContent.uploadTimestamp = *original.uploadTimestamp + 1;
    EXPECT_NE(DiskItem::file(newContent)->itemVersion().contentVersion, before.contentVersion);
}

TEST(DiskItemTest, FolderVersionIsItsWholeModificationSecond) {
    DriveFolder folder = folderRecord(5, "Docs", 2);
    folder.modifiedAt = dateFromUnixSeconds(1.9);
    const auto item = DiskItem::folder(folder);
    EXPECT_EQ(item->itemVersion(), (fileprovider::ItemVersion{"1", "1"}));
    folder.modifiedAt = dateFromUnixSeconds(1.2);
    folder.name = "Renamed";
    EXPECT_EQ(DiskItem::folder(folder)->itemVersion(), item->itemVersion());
}

}  // namespace
}  // namespace cadrio
