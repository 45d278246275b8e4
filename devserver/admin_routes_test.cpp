#include "devserver/dev_server_testing.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using namespace std::chrono_literals;
using testing::toAnswer;

class Admin : public testing::DevServerTest {};

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

TEST_F(Admin, AppcastVersionsThatCouldBreakTheDocumentAreRefused) {
    for (const std::string& version : std::vector<std::string>{"", "1.0<x>", "1 0", "beta", "1\"", std::string(65, '1')}) {
        EXPECT_EQ(admin("/_admin/appcast", {{"version", version}}).status, 400) << version;
    }
    EXPECT_EQ(admin("/_admin/appcast", nlohmann::json::object()).status, 400);
    EXPECT_EQ(admin("/_admin/appcast", {{"version", "2"}, {"short_version", "<b>"}}).status, 400);
}

}  // namespace
}  // namespace cadrio::devserver
