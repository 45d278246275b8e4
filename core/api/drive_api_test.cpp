#include "core/api/drive_api.hpp"

#include <gtest/gtest.h>

#include "core/api/query_encoding.hpp"
#include "core/api/testing/api_fixture.hpp"

namespace cadrio {
namespace {

using testing::ApiFixture;
using testing::driveErrorOf;

DriveFile standardFile(std::int64_t id, std::optional<std::string> thumbnails = std::nullopt) {
    DriveFile file;
    file.id = id;
    file.name = "f.txt";
    file.thumbnailPath = std::move(thumbnails);
    return file;
}

TEST(DriveAPI, ListingsDropWhatIsNotSynchronisedAndKeepTheServerOrder) {
    ApiFixture f;
    f.transport->enqueue(200, R"([
        {"id": 3, "file_name": "c", "storage_class": "standard"},
        {"id": 1, "file_name": "trashed", "to_delete": 1},
        {"id": 2, "file_name": "cold", "storage_class": "glacier"},
        {"id": 4, "file_name": "a", "id_folder": 12}])");
    f.transport->enqueue(200, R"([{"id": 9, "folder_name": "x", "to_delete": 2},
                                  {"id": 8, "folder_name": "y", "id_parent": 0}])");
    const auto files = f.api.files(12);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].id, 3);
    EXPECT_EQ(files[1].id, 4);
    EXPECT_EQ(files[1].parentFolderID, 12);
    const auto folders = f.api.folders(std::nullopt);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].id, 8);
    EXPECT_EQ(folders[0].parentFolderID, std::nullopt);
}

TEST(DriveAPI, ThumbnailGrantsRefuseAddressesThatAreNotWebURLs) {
    ApiFixture f;
    f.transport->enqueue(200, R"({"url": "file:///etc/passwd"})");
    EXPECT_EQ(driveErrorOf([&] { f.api.thumbnailURL(standardFile(1, "k_256x256.jpg")); }),
              DriveError::decoding("URL de miniature invalide"));
}

TEST(DriveAPI, NothingIsAskedForFilesOutsideStandardStorageOrWithoutThumbnails) {
    ApiFixture f;
    DriveFile archived = standardFile(1, "k_64x64.jpg");
    archived.storageClass = StorageClass::glacier;
    EXPECT_EQ(driveErrorOf([&] { f.api.contentURL(archived); }), DriveError::archived());
    EXPECT_EQ(f.api.thumbnailURL(archived), std::nullopt);
    EXPECT_EQ(f.api.thumbnailURL(standardFile(2)), std::nullopt);
    EXPECT_EQ(f.api.thumbnailURL(standardFile(3, "[not json")), std::nullopt);
    EXPECT_TRUE(f.requests().empty());

    f.transport->enqueue(200, R"({"url": "https://s.test/t?sig=1"})");
    EXPECT_EQ(f.api.thumbnailURL(standardFile(4, R"(["a_1024x1024.png", "a_256x256.png"])")),
              "https://s.test/t?sig=1");
    EXPECT_EQ(ApiFixture::path(f.request(0)), "/drive/thumbnails/presign?s3_key=a_256x256.png");
}

TEST(QueryEncoding, EscapesWhatWouldEndOrSplitTheValue) {
    const std::pair<std::string, std::string> cases[] = {
        {"a+b&c=d", "a%2Bb%26c%3Dd"},
        {"what?#frag", "what%3F%23frag"},
        {"100% sûr", "100%25%20s%C3%BBr"},
        {"!$'()*,-.:;@_~", "!$'()*,-.:;@_~"},
        {"\"<>[]\\^`{|}", "%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
        {std::string("a\0b\xff", 4), "a%00b%FF"},
    };
    for (const auto& [raw, encoded] : cases)
        EXPECT_EQ(percentEncodedQueryValue(raw), encoded) << raw;
}

TEST(DriveAPI, EmptyChangesSendNothing) {
    ApiFixture f;
    f.api.updateFolder(5, std::nullopt, std::nullopt);
    f.api.move({}, {}, 3);
    f.api.trash({}, {});
    EXPECT_TRUE(f.requests().empty());
}

}  // namespace
}  // namespace cadrio
