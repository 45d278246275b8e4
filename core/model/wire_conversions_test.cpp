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

// The address check itself has its own table; here only that grants go through it.
TEST(WireConversionsTest, DownloadGrantsRefuseWhatIsNotAWebAddress) {
    DownloadURLDTO dto;
    dto.url = "javascript:alert(1)";
    EXPECT_THROW(driveDownload(dto), DriveError);
}

}  // namespace
}  // namespace cadrio
