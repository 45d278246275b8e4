#include "core/api/drive_api.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

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

TEST(DriveAPI, ReadOperationsAskForTheirPathAndQuery) {
    struct Case {
        const char* path;
        std::string answer;
        std::function<void(const DriveAPI&)> call;
    };
    const Case cases[] = {
        {"/drive/changes?since=0", "{}", [](const DriveAPI& api) { api.changes(0); }},
        {"/drive/folders", "[]", [](const DriveAPI& api) { api.folders(std::nullopt); }},
        {"/drive/files?limit=100000", "[]", [](const DriveAPI& api) { api.files(std::nullopt); }},
        {"/drive/files?limit=100000&id_folder=42", "[]",
         [](const DriveAPI& api) { api.files(42); }},
        {"/drive/quota", "{}", [](const DriveAPI& api) { api.quota(); }},
        {"/drive/files/9007199254740993/download-url", R"({"url":"https://s.test/o"})",
         [](const DriveAPI& api) { api.contentURL(standardFile(9007199254740993)); }},
        {"/drive/thumbnails/presign?s3_key=a%2Bb%26c%3Dd", R"({"url":"https://s.test/t"})",
         [](const DriveAPI& api) { api.thumbnailURL(standardFile(1, "a+b&c=d")); }},
    };
    for (const auto& c : cases) {
        ApiFixture f;
        f.transport->enqueue(200, c.answer);
        c.call(f.api);
        ASSERT_EQ(f.requests().size(), 1u) << c.path;
        EXPECT_EQ(ApiFixture::path(f.request(0)), c.path);
        EXPECT_EQ(f.request(0).method, "GET") << c.path;
        EXPECT_EQ(f.request(0).body, "") << c.path;
    }
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

TEST(DriveAPI, ChangeFeedErrorsAreNotRetried) {
    for (const auto& [status, expected] : {std::pair{410, DriveError::cursorExpired()},
                                           std::pair{400, DriveError::http(400, "bad")}}) {
        ApiFixture f;
        f.transport->enqueue(status, "bad");
        EXPECT_EQ(driveErrorOf([&] { f.api.changes(1); }), expected) << status;
        EXPECT_EQ(f.requests().size(), 1u) << status;
    }
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

TEST(DriveAPI, MetadataBodies) {
    struct Case {
        const char* name;
        std::function<void(const DriveAPI&)> call;
        const char* method;
        const char* path;
        nlohmann::json body;
    };
    const Case cases[] = {
        {"folder at the root",
         [](const DriveAPI& api) { api.createFolder("Nouveau", std::nullopt); },
         "POST",
         "/drive/folders",
         {{"folder_name", "Nouveau"}, {"id_parent", 0}}},
        {"rename folder",
         [](const DriveAPI& api) { api.updateFolder(5, "B", std::nullopt); },
         "PUT",
         "/drive/folders/5",
         {{"folder_name", "B"}}},
        {"folder to the root",
         [](const DriveAPI& api) {
             api.updateFolder(
                 5, std::nullopt,
                 std::optional<std::optional<std::int64_t>>(std::in_place, std::nullopt));
         },
         "PUT",
         "/drive/folders/5",
         {{"parent_id", 0}}},
        {"rename and move",
         [](const DriveAPI& api) { api.updateFolder(5, "B", std::optional<std::int64_t>(7)); },
         "PUT",
         "/drive/folders/5",
         {{"folder_name", "B"}, {"parent_id", 7}}},
        {"one file to the root",
         [](const DriveAPI& api) { api.move({3}, {}, std::nullopt); },
         "POST",
         "/drive/move",
         {{"file_ids", {3}}, {"folder_ids", nlohmann::json::array()}, {"target_folder_id", 0}}},
        {"move into a folder",
         [](const DriveAPI& api) {
             api.move({}, {4, 5}, 9);
         },
         "POST",
         "/drive/move",
         {{"file_ids", nlohmann::json::array()}, {"folder_ids", {4, 5}}, {"target_folder_id", 9}}},
        {"trash",
         [](const DriveAPI& api) {
             api.trash({1, 2}, {3});
         },
         "POST",
         "/drive/bulk-delete",
         {{"file_ids", {1, 2}}, {"folder_ids", {3}}}},
    };
    for (const auto& c : cases) {
        ApiFixture f;
        f.transport->enqueue(200, R"({"id": 31})");
        c.call(f.api);
        ASSERT_EQ(f.requests().size(), 1u) << c.name;
        const HttpRequest request = f.request(0);
        EXPECT_EQ(request.method, c.method) << c.name;
        EXPECT_EQ(ApiFixture::path(request), c.path) << c.name;
        EXPECT_EQ(ApiFixture::json(request), c.body) << c.name;
        EXPECT_EQ(ApiFixture::header(request, "Content-Type"), "application/json") << c.name;
    }
}

TEST(DriveAPI, OnlyWhatCannotActTwiceIsSentAgainAfterALostAnswer) {
    const std::tuple<const char*, std::function<void(const DriveAPI&)>, bool> cases[] = {
        {"folder creation", [](const DriveAPI& api) { api.createFolder("x", 12); }, false},
        {"rename", [](const DriveAPI& api) { api.renameFile(8, "y"); }, true},
        {"folder update", [](const DriveAPI& api) { api.updateFolder(5, "B", std::nullopt); }, true},
        {"move", [](const DriveAPI& api) { api.move({3}, {}, 9); }, true},
        {"trash", [](const DriveAPI& api) { api.trash({3}, {}); }, true},
    };
    for (const auto& [name, call, repeated] : cases) {
        ApiFixture f;
        f.transport->enqueueError(DriveError::transport("connexion coupée"));
        f.transport->enqueue(200, R"({"id": 31})");
        if (repeated) {
            call(f.api);
        } else {
            EXPECT_THROW(call(f.api), DriveError) << name;
        }
        EXPECT_EQ(f.requests().size(), repeated ? 2u : 1u) << name;
    }
}

TEST(DriveAPI, EmptyChangesSendNothing) {
    ApiFixture f;
    f.api.updateFolder(5, std::nullopt, std::nullopt);
    f.api.move({}, {}, 3);
    f.api.trash({}, {});
    EXPECT_TRUE(f.requests().empty());
}

TEST(DriveAPI, RenameSendsTheBareJSONString) {
    ApiFixture f;
    f.transport->enqueue(200, "not read");
    f.transport->enqueue(200);
    f.api.renameFile(8, "Notes.txt");
    f.api.renameFile(8, "dit \"oui\"\\é.txt");
    EXPECT_EQ(f.request(0).body, "\"Notes.txt\"");
    EXPECT_EQ(ApiFixture::path(f.request(0)), "/drive/files/8/rename");
    EXPECT_EQ(f.request(0).method, "PUT");
    EXPECT_EQ(ApiFixture::json(f.request(1)), "dit \"oui\"\\é.txt");
}

}  // namespace
}  // namespace cadrio
