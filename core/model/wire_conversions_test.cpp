#include "core/model/wire_conversions.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/model/drive_error.hpp"
#include "core/model/wire_decoding.hpp"

namespace cadrio {
namespace {

DriveFile fileFromJson(const std::string& members) {
    const auto files = decodeFiles(R"([{"id":5,"file_name":"Rapport.pdf")" + members + "}]");
    return driveFile(files.at(0));
}

TEST(WireConversionsTest, FileFieldsFollowTheWireRules) {
    const DriveFile minimal = fileFromJson("");
    EXPECT_EQ(minimal.parentFolderID, std::nullopt);
    EXPECT_EQ(minimal.modifiedAt, Date{});
    EXPECT_EQ(minimal.uploadTimestamp, std::nullopt);

    EXPECT_EQ(fileFromJson(R"(,"id_folder":-3)").parentFolderID, std::nullopt);
    EXPECT_EQ(fileFromJson(R"(,"id_folder":12)").parentFolderID, 12);
    EXPECT_EQ(fileFromJson(R"(,"file_size":1234.5)").size, 1235);
    EXPECT_EQ(fileFromJson(R"(,"content_hash":"")").contentHash, std::nullopt);
    EXPECT_EQ(fileFromJson(R"(,"file_miniatures_path":"")").thumbnailPath, std::nullopt);
    EXPECT_TRUE(fileFromJson(R"(,"to_delete":1)").isTrashed);
    EXPECT_FALSE(fileFromJson(R"(,"to_delete":-1)").isTrashed);

    const DriveFile uploaded = fileFromJson(R"(,"date_upload":1700000000)");
    EXPECT_EQ(unixSecondsTruncated(uploaded.modifiedAt), 1700000000);
    EXPECT_EQ(uploaded.uploadTimestamp, 1700000000);
    const DriveFile modified = fileFromJson(R"(,"date_modified":1600000000,"date_upload":1700000000)");
    EXPECT_EQ(unixSecondsTruncated(modified.modifiedAt), 1600000000);
}

TEST(WireConversionsTest, FoldersAndChangePages) {
    const ChangesDTO page = decodeChanges(R"({"cursor":77,
        "folders":[{"id":3,"folder_name":"Docs","id_parent":0,"date_creation":1600000000,"to_delete":2},
                   {"id":4,"folder_name":"Sub","id_parent":3,"date_modified":1600000500,"date_creation":1}],
        "files":[{"id":9,"file_name":"a.txt","id_folder":4,"storage_class":"glacier"}]})");
    const DriveChanges changes = driveChanges(page);
    EXPECT_EQ(changes.cursor, 77);
    ASSERT_EQ(changes.folders.size(), 2u);
    EXPECT_EQ(changes.folders[0].parentFolderID, std::nullopt);
    EXPECT_TRUE(changes.folders[0].isTrashed);
    EXPECT_EQ(unixSecondsTruncated(changes.folders[0].modifiedAt), 1600000000);
    EXPECT_EQ(changes.folders[1].parentFolderID, 3);
    EXPECT_EQ(unixSecondsTruncated(changes.folders[1].modifiedAt), 1600000500);
    ASSERT_EQ(changes.files.size(), 1u);
    EXPECT_EQ(changes.files[0].storageClass, StorageClass::glacier);  // kept: callers filter

    const DriveChanges empty = driveChanges(decodeChanges("{}"));
    EXPECT_EQ(empty.cursor, 0);
}

TEST(WireConversionsTest, AMalformedRecordRejectsTheWholePage) {
    try {
        decodeChanges(R"({"files":[{"id":1,"file_name":"a"},{"id":2,"file_name":"b"},{"id":3,"file_name":"c"},
                                  {"id":4.5,"file_name":"d"}]})");
        FAIL() << "decoded";
    } catch (const DriveError& error) {
        EXPECT_EQ(error, DriveError::decoding("files[3].id: expected an integer, got 4.5"));
    }
    EXPECT_THROW(decodeChanges(R"({"files":[{"id":1,"file_name":"a","file_size":1e19}]})"), DriveError);
    EXPECT_THROW(decodeChanges(R"({"folders":[{"id":1}]})"), DriveError);
}

TEST(WireConversionsTest, DownloadGrants) {
    const DriveDownload grant = driveDownload(decodeDownloadURL(R"({"url":"https://s3.example/k?sig=1"})"));
    EXPECT_EQ(grant.url, "https://s3.example/k?sig=1");
    EXPECT_EQ(grant.expiresIn, 0);
    EXPECT_EQ(grant.fileSize, std::nullopt);

    const DriveDownload full = driveDownload(decodeDownloadURL(
        R"({"url":"http://127.0.0.1:9/k","expires_in":300,"file_size":10.5,"content_hash":"","date_upload":17})"));
    EXPECT_EQ(full.expiresIn, 300);
    EXPECT_EQ(full.fileSize, 11);
    EXPECT_EQ(full.contentHash, std::nullopt);
    EXPECT_EQ(full.uploadTimestamp, 17);

    for (const char* url : {"ftp://x/y", "/relative", "javascript:alert(1)"}) {
        DownloadURLDTO dto;
        dto.url = url;
        EXPECT_THROW(driveDownload(dto), DriveError) << url;
    }
}

TEST(WireConversionsTest, QuotaAndSmallResponses) {
    EXPECT_EQ(driveQuota(decodeQuota(R"({"quota_used":256,"quota_max":1024.5})")), (DriveQuota{256, 1024.5}));
    EXPECT_EQ(driveQuota(decodeQuota("{}")), (DriveQuota{0, 0}));
    EXPECT_EQ(decodeUploadResponse(R"({"id":1,"s3_key":"k","file_miniatures_path":null})"),
              (UploadResponseDTO{1, "k", std::nullopt}));
    EXPECT_EQ(decodeReplaceResponse(R"({"id":2,"file_size":3,"storage_class":"standard"})").fileSize, 3.0);
    EXPECT_EQ(decodeMultipartInit(R"({"upload_id":"u","s3_key":"k","part_size":16777216})"),
              (MultipartInitDTO{"u", "k", 16777216}));
    EXPECT_EQ(decodeLoginResponse(R"({"access_token":"t"})"), (LoginResponseDTO{"t", std::nullopt}));
    EXPECT_THROW(decodeMultipartInit(R"({"upload_id":"u"})"), DriveError);
    EXPECT_THROW(decodeLoginResponse(R"({"access_token":null})"), DriveError);
}

}  // namespace
}  // namespace cadrio
