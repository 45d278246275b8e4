#include "devserver/dev_server_testing.hpp"
#include "devserver/digest.hpp"

#include <gtest/gtest.h>


namespace cadrio::devserver {
namespace {

using namespace std::chrono_literals;
using testing::toAnswer;

class Admin : public testing::DevServerTest {};

TEST_F(Admin, AnotherDeviceEditsTheDriveUnderTheSameRules) {
    const auto email = std::string(testing::kDemo);
    const auto start = changes(0)["cursor"].get<std::int64_t>();
    const auto created = admin("/_admin/drive/files", {{"email", email}, {"name", "gen.bin"}, {"size", 300000},
                                                        {"seed", 7}, {"id_folder", folderId("Documents")},
                                                        {"thumbnails", true}});
    ASSERT_EQ(created.status, 200) << created.body;
    const auto id = created.json()["id"].get<std::int64_t>();
    const auto content = download(id);
    EXPECT_EQ(content.size(), 300000u);
    EXPECT_EQ(sha256Hex(content), created.json()["content_hash"]);
    EXPECT_TRUE(created.json().contains("file_miniatures_path"));

    // The owner's other device may replace a locked file's content.
    ASSERT_EQ(admin("/_admin/drive/lock", {{"email", email}, {"id", id}}).status, 200);
    EXPECT_EQ(admin("/_admin/drive/replace", {{"email", email}, {"id", id}, {"content", "v2"}}).status, 200);
    EXPECT_EQ(replace(id, "mine").status, 423);
    EXPECT_EQ(admin("/_admin/drive/lock", {{"email", email}, {"id", id}, {"locked", false}}).status, 200);
    EXPECT_EQ(download(id), "v2");

    ASSERT_EQ(admin("/_admin/drive/move", {{"email", email}, {"kind", "file"}, {"id", id}, {"target_folder_id", 0}}).status, 200);
    ASSERT_EQ(admin("/_admin/drive/storage-class", {{"email", email}, {"id", id}, {"storage_class", "archiving"}}).status, 200);
    auto page = changes(start);
    ASSERT_EQ(page["files"].size(), 1u);
    EXPECT_EQ(page["files"][0]["id_folder"], 0);
    EXPECT_EQ(page["files"][0]["storage_class"], "archiving");
    EXPECT_EQ(page["cursor"], start + 4);

    ASSERT_EQ(admin("/_admin/drive/trash", {{"email", email}, {"kind", "folder"}, {"id", folderId("Photos")}}).status, 200);
    page = changes(start + 4);
    EXPECT_EQ(page["folders"].size(), 2u);
    EXPECT_EQ(page["files"].size(), 1u);  // plage.jpg

    const auto described = toAnswer(client().Get("/_admin/drive?email=" + email)).json();
    EXPECT_EQ(described["cursor"], start + 5);
    EXPECT_FALSE(described["profile"].contains("password"));
}

TEST_F(Admin, AccountsSeedsAndResets) {
    const auto added = admin("/_admin/accounts", {{"email", "New@Cadrio.test"}, {"password", "pw"}, {"quota_max_mb", 5}});
    ASSERT_EQ(added.status, 200) << added.body;
    const auto login = toAnswer(client().Post("/api/v1/auth/login-jmap",
                                              R"({"email":"new@cadrio.test","password":"pw","supports_2fa":true})",
                                              "application/json"));
    ASSERT_EQ(login.status, 200) << login.body;
    token_ = login.json()["access_token"];
    EXPECT_EQ(get("/api/v1/drive/quota").json()["quota_max"], 5.0);
    EXPECT_EQ(changes(0)["files"].size(), 0u);

    EXPECT_EQ(admin("/_admin/accounts", {{"email", "x@cadrio.test"}}).status, 400);
    EXPECT_EQ(admin("/_admin/accounts", {{"email", "x@cadrio.test"}, {"password", "pw"}, {"methods", {"totp"}}}).status, 400);
    EXPECT_EQ(admin("/_admin/seed", {{"name", "nope"}}).status, 400);

    EXPECT_EQ(admin("/_admin/reset", nlohmann::json::object()).status, 200);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 401);
    EXPECT_FALSE(server_->hasAccounts());
    EXPECT_EQ(admin("/_admin/seed", {{"name", "demo"}}).status, 200);
    token_ = server_->auth().issueAccessToken(testing::kDemo);
    EXPECT_EQ(changes(0)["files"].size(), 4u);
}

TEST_F(Admin, UrlLifetimeIsAdjustable) {
    ASSERT_EQ(admin("/_admin/storage/url-lifetime", {{"seconds", 5}}).status, 200);
    const auto id = std::to_string(file("Notes.txt")["id"].get<std::int64_t>());
    const auto grant = get("/api/v1/drive/files/" + id + "/download-url").json();
    EXPECT_EQ(grant["expires_in"], 5);
    clock_.advance(5s);
    EXPECT_EQ(fetch(grant["url"]).status, 403);
    EXPECT_EQ(admin("/_admin/storage/url-lifetime", {{"seconds", -1}}).status, 400);
}

}  // namespace
}  // namespace cadrio::devserver
