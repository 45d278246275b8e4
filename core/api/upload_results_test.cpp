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

TEST(UploadResults, CreatedFileFallsBackWhereTheAnswerIsSilent) {
    const DriveFile file =
        createdFile({502, std::nullopt, ""}, "y", 0, {"/tmp/y", 0, "", "x/y"}, kNow, "k/fallback");
    EXPECT_EQ(file.parentFolderID, std::nullopt);  // 0 is the root
    EXPECT_EQ(file.storageKey, "k/fallback");
    EXPECT_EQ(file.thumbnailPath, std::nullopt);
    EXPECT_EQ(file.contentHash, std::nullopt);  // never the empty text
    EXPECT_EQ(file.modifiedAt, kNow);
}

}  // namespace
}  // namespace cadrio
