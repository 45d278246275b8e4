#include "core/support/temporary_directory.hpp"
#include "devserver/dev_server_testing.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace cadrio::devserver {
namespace {

namespace fs = std::filesystem;

class Persistence : public testing::DevServerTest {
protected:
    void SetUp() override { startServer(dataDir_); }
    void TearDown() override {
        if (server_) server_->stop();
    }
    void restart() {
        server_->stop();
        server_.reset();
        startServer(dataDir_, /*seed=*/false);
    }

    const TemporaryDirectory temporary_{"cadrio-devserver-test"};
    const fs::path dataDir_ = temporary_.path();
};

TEST_F(Persistence, ARestartedServerContinuesWhereTheLastOneStopped) {
    ASSERT_EQ(admin("/_admin/accounts", {{"email", "autre@cadrio.test"}, {"password", "secret"}}).status, 200);
    const auto uploaded = upload("gardé.txt", "contenu gardé", folderId("Documents"));
    ASSERT_EQ(uploaded.status, 200);
    const auto id = uploaded.json()["id"].get<std::int64_t>();
    const auto archives = folderId("Archives");
    ASSERT_EQ(post("/api/v1/drive/bulk-delete", {{"folder_ids", {archives}}}).status, 200);
    ASSERT_EQ(admin("/_admin/drive/lock", {{"email", testing::kDemo}, {"id", id}}).status, 200);
    const auto before = changes(0);

    restart();

    EXPECT_EQ(changes(0), before);
    EXPECT_EQ(download(id), "contenu gardé");
    EXPECT_EQ(replace(id, "x").status, 423);
    EXPECT_EQ(server_->auth().account("autre@cadrio.test")->password, "secret");
    EXPECT_EQ(server_->auth().account("2fa@cadrio.test")->recoveryCodes.size(), 5u);
    const auto created = post("/api/v1/drive/folders", {{"folder_name", "après"}});
    ASSERT_EQ(created.status, 200);
    EXPECT_EQ(changes(0)["cursor"], before["cursor"].get<std::int64_t>() + 1);
    EXPECT_GT(created.json()["id"].get<std::int64_t>(), id);
}

TEST_F(Persistence, ResetIsPersistedToo) {
    ASSERT_EQ(admin("/_admin/reset", nlohmann::json::object()).status, 200);
    restart();
    EXPECT_FALSE(server_->hasAccounts());
    EXPECT_TRUE(fs::is_empty(dataDir_ / "blobs" / "objects"));
}

TEST_F(Persistence, AnUnreadableStateStopsTheServerInsteadOfStartingOver) {
    server_->stop();
    server_.reset();
    const auto metadata = dataDir_ / "metadata.json";
    const auto cases = {std::string("{\"format\": 1, \"next_id\""), std::string("{\"format\": 7}"),
                        std::string("[1, 2, 3]")};
    for (const auto& text : cases) {
        { std::ofstream(metadata, std::ios::trunc) << text; }
        DevServerOptions options;
        options.dataDir = dataDir_;
        EXPECT_THROW(DevServer{options}, std::runtime_error) << text;
        std::ifstream in(metadata);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);  // left for a person to look at
    }
}

TEST_F(Persistence, ObjectsNoFileNamesAreCollectedAtStart) {
    const auto orphan = dataDir_ / "blobs" / "objects" / std::string(32, 'f');
    { std::ofstream(orphan) << "left by a crash"; }
    restart();
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_NE(download(file("Notes.txt")["id"]).find("Cadrio"), std::string::npos);
}

}  // namespace
}  // namespace cadrio::devserver
