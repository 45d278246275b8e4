#include "core/api/upload_results.hpp"

#include <gtest/gtest.h>

#include "core/api/testing/api_fixture.hpp"

namespace cadrio {
namespace {

const Date kNow = dateFromUnixSeconds(std::int64_t{1800000000});

DriveFile before() {
    DriveFile file = testing::sampleDriveFile();
    file.isTrashed = true;
    file.storageClass = StorageClass::glacier;
    return file;
}

TEST(UploadResults, MergingAReplacementAnswer) {
    struct Case {
        const char* name;
        ReplaceResponseDTO answer;
        std::function<void(DriveFile&)> expectedChanges;
    };
    const Case cases[] = {
        {"bare answer keeps the content facts", {99, {}, {}, {}, {}, {}}, [](DriveFile&) {}},
        {"everything given",
         {99, "k/new", 1234.5, "h2", 1700000000, " Glacier "},
         [](DriveFile& f) {
             f.storageKey = "k/new";
             f.size = 1235;
             f.contentHash = "h2";
             f.uploadTimestamp = 1700000000;
             f.storageClass = StorageClass::glacier;
         }},
        {"empty hash is no hash",
         {99, "", 0.4, "", {}, "frozen"},
         [](DriveFile& f) {
             f.storageKey = "";
             f.size = 0;
         }},
    };
    for (const auto& c : cases) {
        DriveFile expected = before();
        expected.modifiedAt = kNow;
        expected.isTrashed = false;
        expected.thumbnailPath.reset();
        expected.storageClass = StorageClass::standard;
        c.expectedChanges(expected);
        EXPECT_EQ(mergedReplacement(before(), c.answer, kNow), expected) << c.name;
    }
}

TEST(UploadResults, CreatedFile) {
    const LocalContent content{"/tmp/x", 42, "abc", "text/plain"};
    const DriveFile single =
        createdFile({501, "k/1", "[\"t_64x64.jpg\"]"}, "x.txt", 0, content, kNow, "k/fallback");
    EXPECT_EQ(single.id, 501);
    EXPECT_EQ(single.parentFolderID, std::nullopt);  // 0 is the root
    EXPECT_EQ(single.name, "x.txt");
    EXPECT_EQ(single.storageKey, "k/1");
    EXPECT_EQ(single.size, 42);
    EXPECT_EQ(single.contentHash, "abc");
    EXPECT_EQ(single.modifiedAt, kNow);
    EXPECT_EQ(single.thumbnailPath, "[\"t_64x64.jpg\"]");
    EXPECT_EQ(single.uploadTimestamp, std::nullopt);
    EXPECT_EQ(single.storageClass, StorageClass::standard);

    const DriveFile bare =
        createdFile({502, std::nullopt, ""}, "y", 9, {"/tmp/y", 0, "", "x/y"}, kNow, "k/fallback");
    EXPECT_EQ(bare.parentFolderID, 9);
    EXPECT_EQ(bare.storageKey, "k/fallback");
    EXPECT_EQ(bare.thumbnailPath, std::nullopt);
    EXPECT_EQ(bare.contentHash, std::nullopt);
}

}  // namespace
}  // namespace cadrio
