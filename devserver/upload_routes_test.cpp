#include "devserver/dev_server_testing.hpp"
#include "devserver/digest.hpp"
#include "devserver/server_context.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using testing::Answer;

class Uploads : public testing::DevServerTest {
protected:
    std::int64_t notesId() { return file("Notes.txt")["id"].get<std::int64_t>(); }
};

TEST_F(Uploads, TheFilePartCountsAgainstTheDirectLimitNotTheForm) {
    const std::string exact(static_cast<std::size_t>(kDirectUploadLimit), 'a');
    EXPECT_EQ(upload("exact.bin", exact).status, 200);
    const auto tooLarge = upload("over.bin", exact + "b");
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_EQ(tooLarge.json()["error"], "payload_too_large");
    EXPECT_EQ(replace(notesId(), exact + "b").status, 413);
}

TEST_F(Uploads, AnnouncedHashMustMatchTheBody) {
    const auto answer = upload("a.txt", "abc", 0, sha256Hex("abd"));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.json()["error"], "content_hash_mismatch");
    EXPECT_THROW(file("a.txt"), std::runtime_error);
}

TEST_F(Uploads, MalformedFormsAreRefused) {
    auto c = client();
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), "abc", "text/plain")).status, 400);
    const std::pair<httplib::MultipartFormDataItems, int> cases[] = {
        {{{"id_folder", "0", "", ""}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"file", "b", "b.txt", "text/plain"}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "x", "", ""}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "9999", "", ""}}, 404},
        {{{"file", "a", "../a.txt", "text/plain"}}, 400},
    };
    for (const auto& [form, status] : cases) {
        EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), form)).status, status) << status;
    }
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", cases[0].first)).status, 401);
}

TEST_F(Uploads, ReplacementPreconditionsAndEveryConflictKind) {
    const auto id = notesId();
    const auto current = file("Notes.txt");
    const auto hash = current["content_hash"].get<std::string>();
    const auto date = current["date_upload"].get<std::int64_t>();
    const auto email = std::string(testing::kDemo);
    struct Case {
        const char* what;
        nlohmann::json adminCall;  // path and body of a preparing admin call, or null
        std::optional<std::string> ifHash;
        std::optional<std::int64_t> ifDate;
        int status;
        std::string conflict;
    };
    const std::vector<Case> cases = {
        {"stale hash", nullptr, "0000", std::nullopt, 409, ""},
        {"stale upload date", nullptr, std::nullopt, date - 1, 409, ""},
        {"locked", {"/_admin/drive/lock", {{"email", email}, {"id", id}, {"locked", true}}}, hash, std::nullopt, 423, ""},
        {"archived", {"/_admin/drive/storage-class", {{"email", email}, {"id", id}, {"storage_class", "glacier"}}},
         hash, std::nullopt, 409, "archived"},
        {"reinforced", {"/_admin/drive/reinforced", {{"email", email}, {"id", id}, {"reinforced", true}}}, hash,
         std::nullopt, 409, "reinforced"},
        {"quota", {"/_admin/drive/quota", {{"email", email}, {"quota_max_mb", 0.001}}}, hash, std::nullopt, 507, ""},
    };
    for (const auto& testCase : cases) {
        if (!testCase.adminCall.is_null()) {
            ASSERT_EQ(admin(testCase.adminCall[0], testCase.adminCall[1]).status, 200) << testCase.what;
        }
        const auto answer = replace(id, std::string(2048, 'z'), testCase.ifHash, testCase.ifDate);
        EXPECT_EQ(answer.status, testCase.status) << testCase.what;
        EXPECT_EQ(answer.header("X-Drive-Conflict"), testCase.conflict) << testCase.what;
        ASSERT_EQ(admin("/_admin/seed", {{"name", "demo"}}).status, 200);
        token_ = server_->auth().issueAccessToken(testing::kDemo);
    }
}

TEST_F(Uploads, ADownloadInProgressKeepsTheVersionItStarted) {
    const auto id = notesId();
    const std::string original(4 << 20, 'o');
    ASSERT_EQ(replace(id, original).status, 200);
    const auto grant = get("/api/v1/drive/files/" + std::to_string(id) + "/download-url").json();
    std::string received;
    bool replaced = false;
    auto c = client();
    const auto result = c.Get(grant["url"].get<std::string>().substr(server_->baseURL().size()),
                              [&](const char* data, std::size_t size) {
                                  received.append(data, size);
                                  if (!replaced) {
                                      replaced = true;
                                      EXPECT_EQ(replace(id, "new").status, 200);
                                  }
                                  return true;
                              });
    ASSERT_TRUE(result);
    EXPECT_EQ(received, original);
    EXPECT_EQ(download(id), "new");
    EXPECT_EQ(fetch(grant["url"]).status, 404);  // the old object is gone
}

}  // namespace
}  // namespace cadrio::devserver
