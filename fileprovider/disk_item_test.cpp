#include "fileprovider/disk_item.hpp"

#include <gtest/gtest.h>

#include "fileprovider/testing/records.hpp"
#include "platform/fileprovider/bit_flags.hpp"

namespace cadrio {
namespace {

using fileprovider::ItemCapabilities;
using testing::fileRecord;
using testing::folderRecord;

std::string raw(const fileprovider::ItemIdentifier& identifier) { return identifier.rawValue(); }

TEST(DiskItemTest, FileProperties) {
    DriveFile record = fileRecord(42, " Rapport/final.pdf", 12);
    const auto item = DiskItem::file(record);
    EXPECT_EQ(raw(item->itemIdentifier()), "f:42");
    EXPECT_EQ(raw(item->parentItemIdentifier()), "d:12");
    EXPECT_EQ(item->filename(), "Rapport_final.pdf");
    EXPECT_EQ(item->contentType(), types::ContentType("application/pdf"));
    EXPECT_EQ(item->documentSize(), record.size);
    EXPECT_EQ(item->itemVersion().contentVersion, "u:1700000042:142");
    EXPECT_EQ(item->itemVersion().metadataVersion, " Rapport/final.pdf-12");
    EXPECT_TRUE(contains(item->capabilities(), ItemCapabilities::allowsRenaming | ItemCapabilities::allowsDeleting));
    EXPECT_FALSE(contains(item->capabilities(), ItemCapabilities::allowsTrashing));
}

TEST(DiskItemTest, ParentsBelowOneAreTheRoot) {
    for (const std::optional<std::int64_t> parent : {std::optional<std::int64_t>(), std::optional<std::int64_t>(0),
                                                     std::optional<std::int64_t>(-4)}) {
        EXPECT_EQ(raw(DiskItem::file(fileRecord(1, "a", parent))->parentItemIdentifier()),
                  "NSFileProviderRootContainerItemIdentifier");
        EXPECT_EQ(raw(DiskItem::folder(folderRecord(1, "a", parent))->parentItemIdentifier()),
                  "NSFileProviderRootContainerItemIdentifier");
    }
    EXPECT_EQ(DiskItem::file(fileRecord(1, "a", 0))->itemVersion().metadataVersion, "a-0");
}

TEST(DiskItemTest, ContentTypeComesFromTheLastExtension) {
    EXPECT_EQ(DiskItem::file(fileRecord(1, "archive.tar.gz"))->contentType(), types::ContentType("application/gzip"));
    EXPECT_EQ(DiskItem::file(fileRecord(1, "x.unknownextension"))->contentType(), types::ContentType::data());
    EXPECT_EQ(DiskItem::folder(folderRecord(1, "photos.jpg"))->contentType(), types::ContentType::folder());
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
    EXPECT_EQ(item->capabilities(), DiskItem::file(fileRecord(1, "a"))->capabilities());
}

TEST(DiskItemTest, RootProperties) {
    const auto root = DiskItem::root();
    EXPECT_EQ(raw(root->itemIdentifier()), "NSFileProviderRootContainerItemIdentifier");
    EXPECT_EQ(root->parentItemIdentifier(), root->itemIdentifier());
    EXPECT_EQ(root->filename(), "Zelvano Cadrio");
    EXPECT_EQ(root->itemVersion(), (fileprovider::ItemVersion{"root", "root"}));
    for (const auto refused : {ItemCapabilities::allowsRenaming, ItemCapabilities::allowsReparenting,
                               ItemCapabilities::allowsDeleting, ItemCapabilities::allowsTrashing}) {
        EXPECT_FALSE(contains(root->capabilities(), refused));
    }
}

}  // namespace
}  // namespace cadrio
