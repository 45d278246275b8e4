// Downloads from the local drive server's storage over libcurl: what lands
// in the scratch directory, and what is left of refused and cut-off
// transfers (nothing).

#include <gtest/gtest.h>

#include <iterator>

#include "core/api/drive_api.hpp"
#include "core/model/content_hasher.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/content_download.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

class ContentDownloadIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::startDemoServer();
        client_ = testing::makeDemoClient(*server_);
        ASSERT_TRUE(client_->login(testing::kDemoAccount, testing::kDemoPassword).isSignedIn());
        api_ = std::make_unique<DriveAPI>(client_);
    }
    void TearDown() override { server_->stop(); }

    DriveFile report() const {
        for (const DriveFolder& folder : api_->folders(std::nullopt)) {
            if (folder.name != "Documents") continue;
            for (const DriveFile& file : api_->files(folder.id)) {
                if (file.name == "Rapport.pdf") return file;
            }
        }
        throw std::runtime_error("no Documents/Rapport.pdf");
    }
    void addStorageFault(devserver::FaultRule::Kind kind, int status = 500) {
        devserver::FaultRule rule;
        rule.pathPrefix = "/storage/";
        rule.kind = kind;
        rule.status = status;
        server_->faults().add(rule);
    }
    std::size_t filesLeft() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory_.path()), {}));
    }
    /// The DriveError of downloading `file`; a test failure when none.
    DriveError failureOf(const DriveFile& file) {
        try {
            downloadContent(api_->contentURL(file).url, directory_.path(), *client_);
        } catch (const DriveError& error) {
            return error;
        }
        ADD_FAILURE() << "the download succeeded";
        return DriveError::http(0, "none");
    }

    std::unique_ptr<devserver::DevServer> server_;
    std::shared_ptr<ApiClient> client_;
    std::unique_ptr<DriveAPI> api_;
    TemporaryDirectory directory_{"content-download-integration"};
};

TEST_F(ContentDownloadIntegrationTest, TheReportArrivesWholeWithItsProgress) {
    const DriveFile file = report();
    ASSERT_TRUE(file.contentHash);
    std::pair<std::int64_t, std::optional<std::int64_t>> last;
    const DownloadedContent got = downloadContent(
        api_->contentURL(file).url, directory_.path(), *client_,
        [&](std::int64_t received, std::optional<std::int64_t> expected) { last = {received, expected}; });
    EXPECT_EQ(got.bytes, file.size);
    EXPECT_EQ(ContentHasher::sha256(got.path), *file.contentHash);
    EXPECT_EQ(last, std::make_pair(file.size, std::optional<std::int64_t>(file.size)));
}

TEST_F(ContentDownloadIntegrationTest, RefusedAndCutOffTransfersLeaveNothing) {
    const DriveFile file = report();
    addStorageFault(devserver::FaultRule::Kind::status, 403);
    EXPECT_EQ(failureOf(file), DriveError::http(403, "stockage"));
    EXPECT_EQ(filesLeft(), 0u);

    addStorageFault(devserver::FaultRule::Kind::truncate);
    const DriveError cut = failureOf(file);
    EXPECT_EQ(cut.kind(), DriveError::Kind::transport);
    EXPECT_EQ(cut.text(), "téléchargement incomplet : " + std::to_string(file.size / 2) + " octets reçus sur " +
                              std::to_string(file.size));
    EXPECT_EQ(filesLeft(), 0u);
}

}  // namespace
}  // namespace cadrio
