// The extension's handlers against the local drive server seeded with the
// demo drive: what a host reads and writes through them lands on the drive.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>

#include "core/support/temporary_directory.hpp"
#include "fileprovider/drive_api_listing.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/local_content.hpp"
#include "platform/log/log_sink.hpp"
#include "platform/types/content_type.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using fileprovider::ItemPtr;

class HandlersIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::startDemoServer();
        auto client = testing::makeDemoClient(*server_);
        ASSERT_TRUE(client->login(testing::kDemoAccount, testing::kDemoPassword).isSignedIn());
        api_ = std::make_shared<const DriveAPI>(client);
        std::filesystem::create_directories(directory_ / "tmp");
        extension_ = std::make_unique<FileProviderExtension>(
            fileprovider::Domain{"demo", testing::kDemoAccount}, fileprovider::HostContext{directory_ / "tmp"},
            FileProviderExtension::Parts{.client = client,
                                         .api = api_,
                                         .listing = std::make_shared<DriveAPIListing>(api_),
                                         .store = store_},
            log::Logger("zelvano.cadrio.sync", "fileprovider", sink_));
    }
    void TearDown() override {
        extension_.reset();
        server_->stop();
    }

    /// The record at `path` ("Documents/Rapport.pdf"), brought into the store.
    DriveFile storedFile(const std::vector<std::string>& folders, const std::string& name) {
        std::optional<std::int64_t> parent;
        for (const std::string& folderName : folders) {
            const auto listed = api_->folders(parent);
            const auto found = std::find_if(listed.begin(), listed.end(), [&](auto& f) { return f.name == folderName; });
            EXPECT_NE(found, listed.end()) << folderName;
            if (found == listed.end()) return {};
            store_->upsert(std::vector{*found}, {});
            parent = found->id;
        }
        const auto files = api_->files(parent);
        const auto file = std::find_if(files.begin(), files.end(), [&](auto& f) { return f.name == name; });
        EXPECT_NE(file, files.end()) << name;
        if (file == files.end()) return {};
        store_->upsert({}, std::vector{*file});
        return *file;
    }

    std::unique_ptr<devserver::DevServer> server_;
    TemporaryDirectory directory_{"handlers-integration"};
    std::shared_ptr<ItemStore> store_ =
        std::make_shared<ItemStore>(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    std::shared_ptr<const DriveAPI> api_;
    std::unique_ptr<FileProviderExtension> extension_;
};

TEST_F(HandlersIntegrationTest, ReadsTheDemoDrive) {
    const DriveFile report = storedFile({"Documents"}, "Rapport.pdf");
    std::promise<std::optional<std::filesystem::path>> contents;
    extension_->fetchContents(fileprovider::ItemIdentifier("f:" + std::to_string(report.id)), std::nullopt, {},
                              [&](auto path, ItemPtr, std::optional<Error> error) {
                                  EXPECT_EQ(error, std::nullopt);
                                  contents.set_value(path);
                              });
    const auto path = contents.get_future().get();
    ASSERT_TRUE(path);
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(*path)), report.size);
    ASSERT_TRUE(report.contentHash);
    EXPECT_EQ(localContent(*path, "Rapport.pdf").contentHash, *report.contentHash);

    const DriveFile beach = storedFile({"Photos", "2024"}, "plage.jpg");
    std::optional<std::string> image;
    std::promise<std::optional<Error>> done;
    extension_->fetchThumbnails(
        {fileprovider::ItemIdentifier("f:" + std::to_string(beach.id))}, {},
        [&](const auto&, std::optional<std::string> bytes, std::optional<Error>) { image = std::move(bytes); },
        [&](std::optional<Error> error) { done.set_value(error); });
    EXPECT_EQ(done.get_future().get(), std::nullopt);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->empty());
}

TEST_F(HandlersIntegrationTest, CreatesRenamesReplacesAndTrashes) {
    const auto change = [&](auto call) {
        std::promise<std::pair<ItemPtr, std::optional<Error>>> answer;
        call([&](ItemPtr item, fileprovider::ItemFields, bool, std::optional<Error> error) {
            answer.set_value({item, error});
        });
        auto [item, error] = answer.get_future().get();
        EXPECT_EQ(error, std::nullopt);
        return item;
    };
    auto folderTemplate = std::make_shared<fileprovider::BasicItem>();
    folderTemplate->name = "Nouveau";
    folderTemplate->type = types::ContentType::folder();
    const ItemPtr folder = change([&](auto done) { extension_->createItem(folderTemplate, {}, std::nullopt, {}, {}, done); });
    ASSERT_TRUE(folder);

    std::ofstream(directory_ / "note.txt") << "bonjour";
    auto fileTemplate = std::make_shared<fileprovider::BasicItem>();
    fileTemplate->name = "note.txt";
    fileTemplate->parent = folder->itemIdentifier();
    const ItemPtr file =
        change([&](auto done) { extension_->createItem(fileTemplate, {}, directory_ / "note.txt", {}, {}, done); });
    ASSERT_TRUE(file);

    auto renamed = std::make_shared<fileprovider::BasicItem>(fileprovider::BasicItem::copyOf(*file));
    renamed->name = "note finale.txt";
    renamed->parent = fileprovider::ItemIdentifier::rootContainer();
    std::ofstream(directory_ / "note.txt") << "bonjour et au revoir";
    const ItemPtr modified = change([&](auto done) {
        extension_->modifyItem(renamed, file->itemVersion(),
                               fileprovider::ItemFields::filename | fileprovider::ItemFields::parentItemIdentifier |
                                   fileprovider::ItemFields::contents,
                               directory_ / "note.txt", {}, {}, done);
    });
    ASSERT_TRUE(modified);
    const auto rootFiles = api_->files(std::nullopt);
    const auto onDrive = std::find_if(rootFiles.begin(), rootFiles.end(), [](auto& f) { return f.name == "note finale.txt"; });
    ASSERT_NE(onDrive, rootFiles.end());
    EXPECT_EQ(onDrive->size, static_cast<std::int64_t>(std::string("bonjour et au revoir").size()));

    std::promise<std::optional<Error>> trashed;
    extension_->deleteItem(folder->itemIdentifier(), {}, {}, {}, [&](auto error) { trashed.set_value(error); });
    EXPECT_EQ(trashed.get_future().get(), std::nullopt);
    const auto folders = api_->folders(std::nullopt);
    EXPECT_EQ(std::count_if(folders.begin(), folders.end(), [](auto& f) { return f.name == "Nouveau"; }), 0);
}

}  // namespace
}  // namespace cadrio
