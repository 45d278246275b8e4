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

TEST_F(Uploads, SingleUploadCreatesAFileWhoseContentDownloads) {
    const std::string bytes("contenu\0binaire\xff", 16);
    const auto documents = folderId("Documents");
    const auto before = changes(0)["cursor"].get<std::int64_t>();
    const auto answer = upload("Lettre.odt", bytes, documents, sha256Hex(bytes));
    ASSERT_EQ(answer.status, 200) << answer.body;
    const auto id = answer.json()["id"].get<std::int64_t>();
    EXPECT_EQ(answer.json()["s3_key"], file("Lettre.odt")["file_path"]);

    const auto page = changes(before);
    ASSERT_EQ(page["files"].size(), 1u);
    EXPECT_EQ(page["files"][0]["id_folder"], documents);
    EXPECT_EQ(page["files"][0]["content_hash"], sha256Hex(bytes));
    EXPECT_EQ(page["files"][0]["file_size"], bytes.size());
    EXPECT_EQ(download(id), bytes);
}

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
    const auto plain = testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), "abc", "text/plain"));
    EXPECT_EQ(plain.status, 400);
    httplib::MultipartFormDataItems noFile{{"id_folder", "0", "", ""}};
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), noFile)).status, 400);
    httplib::MultipartFormDataItems twoFiles{{"file", "a", "a.txt", "text/plain"}, {"file", "b", "b.txt", "text/plain"}};
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), twoFiles)).status, 400);
    httplib::MultipartFormDataItems badFolder{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "x", "", ""}};
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), badFolder)).status, 400);
    httplib::MultipartFormDataItems unknownFolder{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "9999", "", ""}};
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), unknownFolder)).status, 404);
    httplib::MultipartFormDataItems badName{{"file", "a", "../a.txt", "text/plain"}};
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), badName)).status, 400);
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", noFile)).status, 401);
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

TEST_F(Uploads, ReplacementUnderAMatchingPreconditionGetsAStrictlyLaterUploadDate) {
    const auto id = notesId();
    auto date = file("Notes.txt")["date_upload"].get<std::int64_t>();
    for (int round = 0; round < 3; ++round) {  // the clock stands still
        const std::string bytes = "version " + std::to_string(round);
        const auto answer = replace(id, bytes, std::nullopt, date);
        ASSERT_EQ(answer.status, 200) << answer.body;
        const auto body = answer.json();
        EXPECT_EQ(body["id"], id);
        EXPECT_GT(body["date_upload"].get<std::int64_t>(), date);
        EXPECT_EQ(body["content_hash"], sha256Hex(bytes));
        EXPECT_EQ(body["file_size"], bytes.size());
        EXPECT_EQ(body["storage_class"], "standard");
        EXPECT_EQ(download(id), bytes);
        // The old date no longer passes.
        EXPECT_EQ(replace(id, "late", std::nullopt, date).status, 409);
        date = body["date_upload"].get<std::int64_t>();
    }
    EXPECT_EQ(replace(id, "by hash", sha256Hex("version 2")).status, 200);
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
