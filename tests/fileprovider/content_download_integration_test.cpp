// A download cut off by the local drive server's storage, over libcurl: the
// transport's own ending of a short body must still be caught, and nothing
// of the partial file left in the scratch directory. The answers themselves
// are tested with the unit's scripted transport.

#include <gtest/gtest.h>

#include <iterator>

#include "core/api/drive_api.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/content_download.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

TEST(ContentDownloadIntegrationTest, ACutOffTransferFailsAndLeavesNothing) {
    const auto server = testing::startDemoServer();
    const auto client = testing::makeDemoClient(*server);
    ASSERT_TRUE(client->login(testing::kDemoAccount, testing::kDemoPassword).isSignedIn());
    const DriveAPI api(client);
    std::optional<DriveFile> report;
    for (const DriveFolder& folder : api.folders(std::nullopt)) {
        for (const DriveFile& file : api.files(folder.id)) {
            if (file.name == "Rapport.pdf") report = file;
        }
    }
    ASSERT_TRUE(report);
    devserver::FaultRule rule;
    rule.pathPrefix = "/storage/";
    rule.kind = devserver::FaultRule::Kind::truncate;
    server->faults().add(rule);

    const TemporaryDirectory directory("content-download-integration");
    try {
        downloadContent(api.contentURL(*report).url, directory.path(), *client);
        ADD_FAILURE() << "half a file was taken for the whole";
    } catch (const DriveError& error) {
        EXPECT_EQ(error, DriveError::transport("téléchargement incomplet : " + std::to_string(report->size / 2) +
                                               " octets reçus sur " + std::to_string(report->size)));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 0);
}

}  // namespace
}  // namespace cadrio
