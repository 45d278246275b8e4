// Creations and modifications against the local drive server: what the
// server holds afterwards, a large upload in parts included, and the copy
// kept when the server's content moved on under a local edit.

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <future>

#include "core/model/content_hasher.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_creation.hpp"
#include "fileprovider/item_modification.hpp"
#include "platform/log/log_sink.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

using fileprovider::BasicItem;
using fileprovider::ItemFields;
using fileprovider::ItemPtr;

class ItemChangesIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::startDemoServer();
        client_ = testing::makeDemoClient(*server_);
        ASSERT_TRUE(client_->login(testing::kDemoAccount, testing::kDemoPassword).isSignedIn());
        parts_ = std::make_unique<ItemChangeParts>(ItemChangeParts{std::make_shared<const DriveAPI>(client_),
                  std::make_shared<ItemStore>(ItemStore::Locations{}),
                  log::Logger("zelvano.cadrio.sync", "fileprovider", std::make_shared<log::MemorySink>()), nullptr});
    }
    void TearDown() override {
        tasks_.shutdown();
        server_->stop();
    }

    std::pair<ItemPtr, bool> answerOf(const std::function<void(ItemChangeCompletion)>& start) {
        std::promise<std::pair<ItemPtr, bool>> answer;
        start([&](ItemPtr item, ItemFields, bool fetch, std::optional<fileprovider::Error> error) {
            EXPECT_FALSE(error) << error->description;
            answer.set_value({item, fetch});
        });
        return answer.get_future().get();
    }
    ItemPtr create(const std::string& name, types::ContentType type, std::optional<std::filesystem::path> contents) {
        BasicItem item;
        item.name = name;
        item.type = std::move(type);
        return answerOf([&](ItemChangeCompletion complete) {
                   createItem(*parts_, tasks_, item, contents, {}, std::move(complete));
               }).first;
    }
    std::pair<ItemPtr, bool> modify(const ItemPtr& item, std::string name, std::string parent, ItemFields fields,
                                    std::optional<std::filesystem::path> contents = {}) {
        BasicItem changed = BasicItem::copyOf(*item);
        changed.name = std::move(name);
        changed.parent = fileprovider::ItemIdentifier(std::move(parent));
        return answerOf([&](ItemChangeCompletion complete) {
            modifyItem(*parts_, tasks_, changed, item->itemVersion(), fields, contents, std::move(complete));
        });
    }
    std::filesystem::path bytes(const std::string& name, const std::string& content) {
        const auto path = directory_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::optional<DriveFile> serverFile(const std::string& name, std::optional<std::int64_t> folder) const {
        for (const DriveFile& file : parts_->api->files(folder)) {
            if (file.name == name) return file;
        }
        return std::nullopt;
    }

    std::unique_ptr<devserver::DevServer> server_;
    std::shared_ptr<ApiClient> client_;
    std::unique_ptr<ItemChangeParts> parts_;
    TaskGroup tasks_;
    TemporaryDirectory directory_{"item-changes-integration"};
};

std::int64_t idOf(const ItemPtr& item) { return std::stoll(item->itemIdentifier().rawValue().substr(2)); }

TEST_F(ItemChangesIntegrationTest, CreateRenameMoveAndReplace) {
    const ItemPtr folder = create("Projets", types::ContentType::folder(), std::nullopt);
    const ItemPtr file = create("plan.txt", types::ContentType::plainText(), bytes("plan", "v1"));
    const auto [renamed, fetch] = modify(file, "plan-final.txt", "NSFileProviderRootContainerItemIdentifier",
                                         ItemFields::filename);
    EXPECT_FALSE(fetch);
    const auto moved = modify(renamed, "plan-final.txt", folder->itemIdentifier().rawValue(),
                              ItemFields::parentItemIdentifier).first;
    ASSERT_TRUE(serverFile("plan-final.txt", idOf(folder)));

    std::string big(20 << 20, 'x');
    const auto direct = modify(moved, "plan-final.txt", folder->itemIdentifier().rawValue(), ItemFields::contents,
                               bytes("small", "v2")).first;
    const auto parted = modify(direct, "plan-final.txt", folder->itemIdentifier().rawValue(), ItemFields::contents,
                               bytes("big", big)).first;
    const auto onServer = serverFile("plan-final.txt", idOf(folder));
    ASSERT_TRUE(onServer);
    EXPECT_EQ(onServer->size, 20 << 20);
    EXPECT_EQ(onServer->contentHash, ContentHasher::sha256(directory_ / "big"));
    EXPECT_EQ(parted->documentSize(), 20 << 20);
}

TEST_F(ItemChangesIntegrationTest, AConcurrentChangeKeepsTheLocalBytesInACopy) {
    const ItemPtr file = create("note.txt", types::ContentType::plainText(), bytes("note", "base"));
    httplib::Client admin("127.0.0.1", server_->port());
    const auto replaced = admin.Post(
        "/_admin/drive/replace",
        nlohmann::json{{"email", testing::kDemoAccount}, {"id", idOf(file)}, {"content", "serveur"}}.dump(),
        "application/json");
    ASSERT_TRUE(replaced && replaced->status == 200);

    const auto [answer, fetch] = modify(file, "note.txt", "NSFileProviderRootContainerItemIdentifier",
                                        ItemFields::contents, bytes("local", "local"));
    EXPECT_TRUE(fetch);
    int copies = 0;
    for (const DriveFile& f : parts_->api->files(std::nullopt)) {
        if (f.name.rfind("note (conflit Linux ", 0) == 0) {
            ++copies;
            EXPECT_EQ(f.contentHash, ContentHasher::sha256(directory_ / "local"));
        }
    }
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(serverFile("note.txt", std::nullopt)->contentHash, parts_->store->file(idOf(file))->contentHash);
}

}  // namespace
}  // namespace cadrio
