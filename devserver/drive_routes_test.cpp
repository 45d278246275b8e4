#include "devserver/dev_server_testing.hpp"
#include "devserver/server_context.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using testing::toAnswer;

class DriveRoutes : public testing::DevServerTest {};

TEST_F(DriveRoutes, PresignedUrlsExpireAndCannotBeAltered) {
    const auto id = file("Notes.txt")["id"].get<std::int64_t>();
    const auto url = get("/api/v1/drive/files/" + std::to_string(id) + "/download-url").json()["url"].get<std::string>();
    const auto other = file("Rapport.pdf")["file_path"].get<std::string>();
    auto forged = url;
    forged.replace(forged.find("objects/"), other.size(), other);
    EXPECT_EQ(fetch(forged).status, 403);
    EXPECT_EQ(fetch(url.substr(0, url.size() - 1) + (url.back() == '0' ? "1" : "0")).status, 403);
    EXPECT_EQ(fetch(url).status, 200);
    clock_.advance(std::chrono::seconds(3600));
    EXPECT_EQ(fetch(url).status, 403);
}

TEST_F(DriveRoutes, BadRequestsGetA4xxJsonErrorAndTheServerCarriesOn) {
    const auto notes = std::to_string(file("Notes.txt")["id"].get<std::int64_t>());
    struct Case {
        std::string method, path, body;
        int status;
    };
    const std::vector<Case> cases = {
        {"GET", "/api/v1/drive/changes", "", 400},
        {"GET", "/api/v1/drive/changes?since=abc", "", 400},
        {"GET", "/api/v1/drive/changes?since=99999999999999999999", "", 400},
        {"GET", "/api/v1/drive/files?limit=0", "", 400},
        {"GET", "/api/v1/drive/files/99999/download-url", "", 404},
        {"GET", "/api/v1/drive/thumbnails/presign?s3_key=../../etc/passwd", "", 404},
        {"POST", "/api/v1/drive/folders", "{not json", 400},
        {"POST", "/api/v1/drive/folders", "[]", 400},
        {"POST", "/api/v1/drive/folders", R"({"folder_name": 5})", 400},
        {"POST", "/api/v1/drive/folders", R"({"folder_name": "x", "id_parent": 1.5})", 400},
        {"PUT", "/api/v1/drive/files/" + notes + "/rename", R"({"name":"x"})", 400},
        {"PUT", "/api/v1/drive/files/" + notes + "/rename", R"("")", 400},
        {"POST", "/api/v1/drive/move", R"({"file_ids": ["1"], "target_folder_id": 0})", 400},
        {"POST", "/api/v1/drive/move", R"({"file_ids": [99999], "target_folder_id": 0})", 404},
        {"POST", "/api/v1/drive/bulk-delete", R"({"file_ids": 7})", 400},
        {"POST", "/api/v1/drive/upload/multipart/init", R"({"file_name":"a","file_size":-1})", 400},
        {"GET", "/api/v1/nothing/here", "", 404},
    };
    for (const auto& testCase : cases) {
        auto c = client();
        const auto result = testCase.method == "GET"   ? c.Get(testCase.path, auth())
                            : testCase.method == "PUT" ? c.Put(testCase.path, auth(), testCase.body, "application/json")
                                                       : c.Post(testCase.path, auth(), testCase.body, "application/json");
        const auto answer = toAnswer(result);
        EXPECT_EQ(answer.status, testCase.status) << testCase.method << " " << testCase.path << " " << testCase.body;
        EXPECT_TRUE(answer.json().contains("error")) << answer.body;
    }
    const auto huge = std::string(static_cast<std::size_t>(kMaxRequestBody) + 1, ' ');
    EXPECT_EQ(toAnswer(client().Post("/api/v1/drive/move", auth(), huge, "application/json")).status, 413);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
}

}  // namespace
}  // namespace cadrio::devserver
