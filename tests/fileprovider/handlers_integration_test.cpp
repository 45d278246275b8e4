// The extension's reads against the local drive server seeded with the
// demo drive: contents and thumbnails come from the drive.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "core/support/temporary_directory.hpp"
#include "fileprovider/drive_api_listing.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/local_content.hpp"
#include "platform/log/log_sink.hpp"
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

}  // namespace
}  // namespace cadrio
