#include "devserver/dev_server_testing.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using testing::toAnswer;

class Appcast : public testing::DevServerTest {
protected:
    testing::Answer fetchPath(const std::string& path) { return toAnswer(client().Get(path)); }
};

TEST_F(Appcast, TheAdminSetsTheListedReleaseWhosePagesTheServerServes) {
    auto feed = fetchPath("/appcast.xml");
    ASSERT_EQ(feed.status, 200);
    EXPECT_NE(feed.body.find("<sparkle:version>0.0.1</sparkle:version>"), std::string::npos);

    const auto set = admin("/_admin/appcast", {{"version", "0.2.0.41"}, {"short_version", "0.2.0"}});
    ASSERT_EQ(set.status, 200) << set.body;
    EXPECT_EQ(set.json()["short_version"], "0.2.0");
    feed = fetchPath("/appcast.xml");
    EXPECT_NE(feed.body.find("<sparkle:version>0.2.0.41</sparkle:version>"), std::string::npos);
    EXPECT_NE(feed.body.find(server_->baseURL() + "/releases/0.2.0</sparkle:releaseNotesLink>"), std::string::npos);

    EXPECT_EQ(fetchPath("/releases/0.2.0").status, 200);
    const auto package = fetchPath("/releases/0.2.0/zelvano-cadrio-0.2.0.tar.gz");
    ASSERT_EQ(package.status, 200);
    EXPECT_NE(feed.body.find("length=\"" + std::to_string(package.body.size()) + "\""), std::string::npos);
    EXPECT_EQ(fetchPath("/releases/0.0.1").status, 404);

    ASSERT_EQ(admin("/_admin/reset", nlohmann::json::object()).status, 200);
    EXPECT_NE(fetchPath("/appcast.xml").body.find("<sparkle:version>0.0.1<"), std::string::npos);
}

TEST_F(Appcast, VersionsThatCouldBreakTheDocumentAreRefused) {
    for (const std::string& version : std::vector<std::string>{"", "1.0<x>", "1 0", "beta", "1\"", std::string(65, '1')}) {
        EXPECT_EQ(admin("/_admin/appcast", {{"version", version}}).status, 400) << version;
    }
    EXPECT_EQ(admin("/_admin/appcast", nlohmann::json::object()).status, 400);
    EXPECT_EQ(admin("/_admin/appcast", {{"version", "2"}, {"short_version", "<b>"}}).status, 400);
}

}  // namespace
}  // namespace cadrio::devserver
