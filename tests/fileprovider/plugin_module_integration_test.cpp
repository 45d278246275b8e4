// The plug-in module as the host runs it against the local drive server: the
// shared object loaded through its factory, its session found in the secret
// store and its files in the shared container, every answer crossing the
// library boundary. What the handlers do in detail is checked with the core
// library; here a host's session reads and writes the demo drive end to end.

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>

#include "core/model/domain_summary.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "platform/fileprovider/plugin_library.hpp"
#include "platform/fileprovider/testing/recording_observers.hpp"
#include "tests/support/plugin_session.hpp"

namespace cadrio {
namespace {

using fileprovider::BasicItem;
using fileprovider::ByteString;
using fileprovider::DeleteItemOptions;
using fileprovider::Domain;
using fileprovider::Error;
using fileprovider::ExtensionPtr;
using fileprovider::HostContext;
using fileprovider::ItemFields;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using fileprovider::Page;
using fileprovider::PluginLibrary;
using fileprovider::testing::RecordingEnumerationObserver;
using Seconds = std::chrono::seconds;

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// Bytes that differ from one MiB to the next, so a part sent twice or out
/// of order shows.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 1048576) & 0xff);
    return bytes;
}

template <class T>
T answered(std::future<T> future) {
    // Bounds a broken run only: the answer itself wakes the test.
    if (future.wait_for(Seconds(60)) != std::future_status::ready) throw std::runtime_error("no answer from the plug-in");
    return future.get();
}

std::string rawId(const nlohmann::json& record) { return std::to_string(record.at("id").get<std::int64_t>()); }

/// A host's session with the plug-in: the module loaded, one extension for
/// the demo domain, and the drive as the server holds it.
class PluginModuleIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(hostTemporary());
        library_ = PluginLibrary::open(CADRIO_FILEPROVIDER_PLUGIN);
        openExtension();
    }
    void TearDown() override {
        extension_.reset();
        server_->stop();
    }

    void openExtension() {
        extension_.reset();
        extension_ = library_->createExtension(Domain{"demo", testing::kDemoAccount}, HostContext{hostTemporary()});
    }
    std::filesystem::path hostTemporary() const { return session_.scratch() / "host"; }

    /// The server's live (not trashed) record named `name`, file or folder.
    nlohmann::json onServer(const std::string& name, const char* kind = "files") const {
        const nlohmann::json drive = server_->store().describe(testing::kDemoAccount);
        for (const auto& record : drive.at(kind)) {
            const char* nameField = record.contains("file_name") ? "file_name" : "folder_name";
            if (record.value(nameField, "") == name && record.value("to_delete", 0) == 0) {
                return record;
            }
        }
        return nullptr;
    }
    std::string serverBytes(const nlohmann::json& file) const {
        return bytesOf(server_->blobs().pathOf(file.at("file_path").get<std::string>()));
    }

    void admin(const std::string& path, nlohmann::json body) const {
        body["email"] = testing::kDemoAccount;
        httplib::Client http("127.0.0.1", server_->port());
        const auto result = http.Post(path, body.dump(), "application/json");
        ASSERT_TRUE(result) << path;
        ASSERT_EQ(result->status, 200) << path << ": " << result->body;
    }

    std::vector<ItemPtr> workingSet() {
        auto observer = std::make_shared<RecordingEnumerationObserver>();
        extension_->enumerator(ItemIdentifier::workingSet(), {})->enumerateItems(observer, Page::initialSortedByName());
        EXPECT_TRUE(observer->waitUntilFinished(Seconds(60)));
        EXPECT_EQ(observer->calls().back().summary(), "finishEnumerating(none)");
        return observer->allItems();
    }

    std::pair<std::optional<std::filesystem::path>, std::optional<Error>> fetch(const std::string& identifier) {
        std::promise<std::pair<std::optional<std::filesystem::path>, std::optional<Error>>> answer;
        extension_->fetchContents(ItemIdentifier(identifier), std::nullopt, {},
                                  [&](auto path, ItemPtr, std::optional<Error> error) {
                                      answer.set_value({path, error});
                                  });
        return answered(answer.get_future());
    }

    struct ChangeAnswer {
        ItemPtr item;
        bool shouldFetchContent = false;
        std::optional<Error> error;
    };
    template <class Call>
    ChangeAnswer change(Call call) {
        std::promise<ChangeAnswer> answer;
        call([&](ItemPtr item, ItemFields, bool shouldFetch, std::optional<Error> error) {
            answer.set_value({item, shouldFetch, error});
        });
        return answered(answer.get_future());
    }
    ChangeAnswer create(const std::string& name, const ItemIdentifier& parent, std::optional<std::filesystem::path> contents) {
        auto item = std::make_shared<BasicItem>();
        item->name = name;
        item->parent = parent;
        if (!contents) item->type = types::ContentType::folder();
        return change([&](auto done) { extension_->createItem(item, ItemFields::none, contents, {}, {}, done); });
    }
    ChangeAnswer modify(const ItemPtr& base, const std::string& name, const ItemIdentifier& parent,
                        ItemFields fields, const std::filesystem::path& contents) {
        auto item = std::make_shared<BasicItem>(BasicItem::copyOf(*base));
        item->name = name;
        item->parent = parent;
        item->size = static_cast<std::int64_t>(std::filesystem::file_size(contents));
        return change([&](auto done) {
            extension_->modifyItem(item, base->itemVersion(), fields, contents, {}, {}, done);
        });
    }
    std::optional<Error> trash(const ItemIdentifier& identifier) {
        std::promise<std::optional<Error>> answer;
        extension_->deleteItem(identifier, {}, DeleteItemOptions::recursive, {},
                               [&](std::optional<Error> error) { answer.set_value(error); });
        return answered(answer.get_future());
    }

    std::unique_ptr<devserver::DevServer> server_ = testing::startDemoServer();
    testing::PluginSession session_{*server_};
    std::shared_ptr<PluginLibrary> library_;
    ExtensionPtr extension_;
};

TEST_F(PluginModuleIntegrationTest, ReadsTheDemoDriveWithTheStoredSession) {
    std::map<std::string, ItemPtr> shown;
    for (const ItemPtr& item : workingSet()) shown[item->filename()] = item;
    ASSERT_TRUE(shown.count("Rapport.pdf") && shown.count("plage.jpg"));
    EXPECT_EQ(shown.count("ancien.zip"), 0u);

    const nlohmann::json report = onServer("Rapport.pdf");
    const auto [path, error] = fetch(shown["Rapport.pdf"]->itemIdentifier().rawValue());
    ASSERT_EQ(error, std::nullopt);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), hostTemporary());
    EXPECT_EQ(bytesOf(*path), serverBytes(report));
    std::filesystem::remove(*path);  // the host moves it into its cache

    // Archived: listed to the tray application, never shown nor downloaded.
    const nlohmann::json archived = onServer("ancien.zip");
    const auto summary = DomainSummary::load(ZelvanoCadrio::summaryURL("demo"));
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->archivedFileIDs, std::set<std::int64_t>{archived.at("id").get<std::int64_t>()});
    EXPECT_EQ(fetch("f:" + rawId(archived)).second, Error::noSuchItem());
    EXPECT_TRUE(std::filesystem::is_empty(hostTemporary()));

    std::promise<std::optional<std::string>> image;
    std::promise<std::optional<Error>> done;
    extension_->fetchThumbnails(
        {shown["plage.jpg"]->itemIdentifier()}, {},
        [&](const ItemIdentifier&, std::optional<ByteString> bytes, std::optional<Error>) { image.set_value(bytes); },
        [&](std::optional<Error> error) { done.set_value(error); });
    EXPECT_EQ(answered(done.get_future()), std::nullopt);
    const std::optional<std::string> thumbnail = answered(image.get_future());
    ASSERT_TRUE(thumbnail);
    std::set<std::string> serverThumbnails;
    const nlohmann::json beach = onServer("plage.jpg");
    for (const auto& key : beach.at("thumbnails")) {
        serverThumbnails.insert(bytesOf(server_->blobs().pathOf(key.get<std::string>())));
    }
    EXPECT_EQ(serverThumbnails.count(*thumbnail), 1u);
}

TEST_F(PluginModuleIntegrationTest, WritesTheDriveAndKeepsTheEditThatRacedAnotherDevice) {
    const std::filesystem::path local = session_.scratch() / "local";
    const ChangeAnswer folder = create("Bilans", ItemIdentifier::rootContainer(), std::nullopt);
    ASSERT_EQ(folder.error, std::nullopt);
    write(local, "premier jet");
    const ChangeAnswer created = create("bilan.txt", folder.item->itemIdentifier(), local);
    ASSERT_EQ(created.error, std::nullopt);

    // Renamed, moved to the root and grown past the single-request limit:
    // the content goes up in parts.
    const std::string large = patterned(20 * 1024 * 1024);
    write(local, large);
    const ChangeAnswer moved =
        modify(created.item, "bilan 2026.bin", ItemIdentifier::rootContainer(),
               ItemFields::filename | ItemFields::parentItemIdentifier | ItemFields::contents, local);
    ASSERT_EQ(moved.error, std::nullopt);
    nlohmann::json onDrive = onServer("bilan 2026.bin");
    ASSERT_FALSE(onDrive.is_null());
    EXPECT_EQ(onDrive.at("id_folder"), onServer("Notes.txt").at("id_folder"));
    EXPECT_TRUE(serverBytes(onDrive) == large);

    const std::string small = patterned(1024 * 1024).substr(7);
    write(local, small);
    const ChangeAnswer replaced =
        modify(moved.item, "bilan 2026.bin", ItemIdentifier::rootContainer(), ItemFields::contents, local);
    ASSERT_EQ(replaced.error, std::nullopt);
    EXPECT_FALSE(replaced.shouldFetchContent);
    EXPECT_TRUE(serverBytes(onServer("bilan 2026.bin")) == small);

    // Another device replaces the content; the host's edit from the version
    // it had becomes a copy beside it, and the host must fetch the server's.
    admin("/_admin/drive/replace", {{"id", onDrive.at("id")}, {"content", "changé ailleurs"}});
    write(local, "ma version");
    const ChangeAnswer raced =
        modify(replaced.item, "bilan 2026.bin", ItemIdentifier::rootContainer(), ItemFields::contents, local);
    ASSERT_EQ(raced.error, std::nullopt);
    EXPECT_TRUE(raced.shouldFetchContent);
    EXPECT_EQ(raced.item->documentSize(), static_cast<std::int64_t>(std::string("changé ailleurs").size()));
    EXPECT_EQ(serverBytes(onServer("bilan 2026.bin")), "changé ailleurs");
    int copies = 0;
    const nlohmann::json drive = server_->store().describe(testing::kDemoAccount);
    for (const auto& file : drive.at("files")) {
        if (file.at("file_name").get<std::string>().rfind("bilan 2026 (conflit Linux ", 0) == 0) {
            ++copies;
            EXPECT_EQ(serverBytes(file), "ma version");
        }
    }
    EXPECT_EQ(copies, 1);
    const auto summary = DomainSummary::load(ZelvanoCadrio::summaryURL("demo"));
    ASSERT_TRUE(summary);
    ASSERT_EQ(summary->conflicts.size(), 1u);
    EXPECT_EQ(summary->conflicts[0].originalName, "bilan 2026.bin");

    // A host restart: the new extension answers from the store it left in
    // the container.
    openExtension();
    std::promise<ItemPtr> known;
    extension_->item(raced.item->itemIdentifier(), {}, [&](ItemPtr item, std::optional<Error>) { known.set_value(item); });
    const ItemPtr remembered = answered(known.get_future());
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->filename(), "bilan 2026.bin");

    EXPECT_EQ(trash(raced.item->itemIdentifier()), std::nullopt);
    EXPECT_EQ(trash(folder.item->itemIdentifier()), std::nullopt);
    EXPECT_TRUE(onServer("bilan 2026.bin").is_null());
    EXPECT_TRUE(onServer("Bilans", "folders").is_null());
}

}  // namespace
}  // namespace cadrio
