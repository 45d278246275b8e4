#include "fileprovider/item_snapshot.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using testing::fileRecord;
using testing::folderRecord;

TEST(ItemSnapshotTest, WritesExactlyTheStoredKeysAndLeavesOutAbsentOnes) {
    DriveFile bare = fileRecord(5, "bare.txt");
    bare.contentHash.reset();
    bare.uploadTimestamp.reset();
    bare.modifiedAt = dateFromUnixSeconds(1'700'000'000.5);
    DriveFile full = fileRecord(6, "full.jpg", 7);
    full.thumbnailPath = "thumbs/6_256x256.jpg";
    const ItemSnapshot snapshot{.cursor = 1834, .folders = {folderRecord(7, "Photos", 3)}, .files = {bare, full}, .withdrawn = {}};

    EXPECT_EQ(encodeSnapshot(snapshot),
              R"({"cursor":1834,"folders":[{"id":7,"parentFolderID":3,"name":"Photos","modifiedAt":1700000007}],)"
              R"("files":[{"id":5,"name":"bare.txt","storageKey":"users/1/5","size":105,"modifiedAt":1700000000.5},)"
              R"({"id":6,"parentFolderID":7,"name":"full.jpg","storageKey":"users/1/6","size":106,)"
              R"("contentHash":"hash6","modifiedAt":1700000006,"thumbnailPath":"thumbs/6_256x256.jpg",)"
              R"("uploadTimestamp":1700000006}]})");
}

TEST(ItemSnapshotTest, RoundTripKeepsEveryRecordWhole) {
    DriveFile file = fileRecord(-3, "r\xC3\xA9sum\xC3\xA9 \"final\"\\\n\t.pdf", 9);
    file.thumbnailPath = R"(["a_64x64.jpg"])";
    file.modifiedAt = dateFromUnixSeconds(1'234'567'890.25);
    ItemSnapshot snapshot{.cursor = -1,
                          .folders = {folderRecord(1, "a"), folderRecord(9, std::string("ctl\x01\x1f", 5), 1)},
                          .files = {file, fileRecord(4, "")},
                          .withdrawn = {fileRecord(8, "gone.txt", 1), fileRecord(6, "older.txt")}};
    for (DriveFile& gone : snapshot.withdrawn) gone.isTrashed = true;  // as they read back
    EXPECT_EQ(decodeSnapshot(encodeSnapshot(snapshot)), snapshot);
}

TEST(ItemSnapshotTest, NamesThatAreNotUTF8StillGiveAReadableFile) {
    const ItemSnapshot snapshot{.cursor = 1, .folders = {folderRecord(1, "bad\xFF\xC3(")}, .files = {}, .withdrawn = {}};
    const auto decoded = decodeSnapshot(encodeSnapshot(snapshot));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->folders.at(0).name, "bad\xEF\xBF\xBD\xEF\xBF\xBD(");
}

TEST(ItemSnapshotTest, AnythingElseReadsAsAbsent) {
    const std::string good = R"({"cursor":1,"folders":[{"id":1,"name":"a","modifiedAt":0}],"files":[]})";
    ASSERT_TRUE(decodeSnapshot(good).has_value());
    const std::vector<std::string> bad = {
        "",
        "null",
        "[]",
        good.substr(0, good.size() / 2),  // half-written
        R"({"folders":[],"files":[]})",  // no cursor
        R"({"cursor":1,"files":[]})",    // no folders
        R"({"cursor":"1","folders":[],"files":[]})",
        R"({"cursor":1.5,"folders":[],"files":[]})",
        R"({"cursor":1,"folders":[{"name":"a","modifiedAt":0}],"files":[]})",  // folder without id
        R"({"cursor":1,"folders":[],"files":[{"id":1,"name":"a","storageKey":"k","modifiedAt":0}]})",  // no size
        R"({"cursor":1,"folders":[],"files":[{"id":1,"name":"a","storageKey":"k","size":1,"modifiedAt":"x"}]})",
        R"({"cursor":1,"folders":{},"files":[]})",
        R"({"archivedFileIDs":[4012],"conflicts":[]})",  // the summary file
        "{\"cursor\":1,\"folders\":[{\"id\":1,\"name\":\"\xFF\",\"modifiedAt\":0}],\"files\":[]}",
        std::string("\x00\x01\x02", 3),
    };
    for (const std::string& bytes : bad) EXPECT_EQ(decodeSnapshot(bytes), std::nullopt) << bytes;
}

}  // namespace
}  // namespace cadrio
