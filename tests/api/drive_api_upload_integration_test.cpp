// Uploads and content replacement against the local drive server: the
// size thresholds, preconditions, and lost completion answers.

#include <gtest/gtest.h>

#include "core/api/testing/api_fixture.hpp"
#include "core/model/content_hasher.hpp"
#include "core/model/content_version.hpp"
#include "core/support/temporary_directory.hpp"
#include "devserver/seeds.hpp"
#include "tests/api/live_drive.hpp"

namespace cadrio {
namespace {

using testing::driveErrorOf;
using testing::kDemoAccount;
using testing::LiveDrive;
using testing::writeLocalContent;

constexpr std::int64_t kMiB = 1024 * 1024;

class DriveAPIUploadIntegration : public LiveDrive {
protected:
    /// Downloads the file through a fresh grant and checks it holds `content`.
    void expectStored(const DriveFile& file, const LocalContent& content) {
        const DriveDownload grant = api().contentURL(file);
        download(grant.url, dir_ / "downloaded");
        EXPECT_EQ(ContentHasher::sha256(dir_ / "downloaded"), content.contentHash) << file.name;
        EXPECT_EQ(grant.fileSize, content.size) << file.name;
    }

    /// The requests sent to `pathSuffix` of the API, with their statuses.
    std::vector<testing::RecordingTransport::Exchange> sentTo(const std::string& pathSuffix) const {
        std::vector<testing::RecordingTransport::Exchange> found;
        for (auto& exchange : transport_->exchanges()) {
            if (exchange.url.substr(0, exchange.url.find('?')).ends_with(pathSuffix)) found.push_back(exchange);
        }
        return found;
    }

    /// The next POST to `path` runs, but its answer is cut halfway.
    void cutNextAnswer(const std::string& path) {
        devserver::FaultRule rule;
        rule.method = "POST";
        rule.pathPrefix = path;
        rule.kind = devserver::FaultRule::Kind::truncate;
        server().faults().add(rule);
    }

    TemporaryDirectory dir_;
};

// 100 MiB makes 13 parts: a parts list sorted as text would put the tenth
// before the second.
TEST_F(DriveAPIUploadIntegration, NewFilesOfEverySizeRoundTrip) {
    const std::pair<std::int64_t, std::size_t> cases[] = {
        {0, 1}, {16 * kMiB, 1}, {16 * kMiB + 1, 3}, {100 * kMiB, 13}};
    const std::int64_t folder = api().createFolder("Envois", std::nullopt);
    for (const auto& [size, progressCalls] : cases) {
        const std::string name = "f-" + std::to_string(size) + ".bin";
        SCOPED_TRACE(name);
        const LocalContent content = writeLocalContent(dir_ / name, size, static_cast<unsigned>(size % 997));
        std::vector<std::int64_t> progress;
        const DriveFile file =
            api().createFile(name, folder, content, [&](std::int64_t n) { progress.push_back(n); });

        EXPECT_EQ(file.name, name);
        EXPECT_EQ(file.parentFolderID, folder);
        EXPECT_EQ(file.size, size);
        EXPECT_EQ(file.contentHash, content.contentHash);
        EXPECT_TRUE(file.uploadTimestamp) << "refreshed from a grant";
        EXPECT_EQ(progress.size(), progressCalls);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.empty() ? -1 : progress.back(), size);
        expectStored(file, content);
        EXPECT_EQ(fileNamed(name, folder).id, file.id);
    }
    EXPECT_EQ(sentTo("/upload/file").size(), 2u);
    EXPECT_EQ(sentTo("/multipart/complete").size(), 2u);
    EXPECT_TRUE(sentTo("/multipart/abort").empty());
}

TEST_F(DriveAPIUploadIntegration, ReplacementsUnderCurrentAndStalePreconditions) {
    for (const std::int64_t size : {std::int64_t{5}, 16 * kMiB + 1}) {
        SCOPED_TRACE(size);
        const DriveFile current = fileNamed("Notes.txt");
        const LocalContent content = writeLocalContent(dir_ / "new", size, 7);
        const auto precondition = ContentVersion::precondition(ContentVersion::token(current));
        ASSERT_TRUE(precondition.ifDateUpload);

        const DriveFile replaced = api().replaceContent(current, content, precondition);
        EXPECT_EQ(replaced.id, current.id);
        EXPECT_EQ(replaced.name, "Notes.txt");
        EXPECT_EQ(replaced.size, size);
        EXPECT_EQ(replaced.contentHash, content.contentHash);
        EXPECT_GT(replaced.uploadTimestamp.value_or(0), current.uploadTimestamp.value_or(0));
        expectStored(replaced, content);

        // Another device replaces the content: both kinds of precondition are stale now.
        server().store().replaceContent(
            kDemoAccount, replaced.id, {},
            devserver::storeBytes(server().blobs(), "changé ailleurs", "text/plain"), /*asOwner=*/true);
        const LocalContent mine = writeLocalContent(dir_ / "mine", size, 8);
        const ReplacePrecondition stale[] = {ContentVersion::precondition(ContentVersion::token(replaced)),
                                             {replaced.contentHash, std::nullopt}};
        for (const ReplacePrecondition& old : stale) {
            EXPECT_EQ(driveErrorOf([&] { api().replaceContent(replaced, mine, old); }),
                      DriveError::versionConflict());
        }
        EXPECT_NE(fileNamed("Notes.txt").contentHash, mine.contentHash);
    }
    // The refused multipart replacements were dropped on the server.
    const auto aborts = sentTo("/multipart/abort");
    ASSERT_EQ(aborts.size(), 2u);
    for (const auto& abort : aborts) EXPECT_EQ(abort.status, 200);
}

TEST_F(DriveAPIUploadIntegration, ACompletionWhoseAnswerIsLostLeavesOneFileAndNoError) {
    const std::int64_t folder = api().createFolder("Envois", std::nullopt);
    const LocalContent content = writeLocalContent(dir_ / "first", 16 * kMiB + 1, 3);
    cutNextAnswer("/api/v1/drive/upload/multipart/complete");
    const DriveFile created = api().createFile("gros.bin", folder, content);
    ASSERT_EQ(api().files(folder).size(), 1u);
    expectStored(created, content);

    const DriveFile current = fileNamed("gros.bin", folder);
    const LocalContent changed = writeLocalContent(dir_ / "second", 16 * kMiB + 1, 4);
    cutNextAnswer("/api/v1/drive/files/" + std::to_string(created.id) + "/content/complete");
    const DriveFile replaced = api().replaceContent(
        current, changed, ContentVersion::precondition(ContentVersion::token(current)));
    EXPECT_EQ(replaced.id, created.id);
    EXPECT_EQ(replaced.contentHash, changed.contentHash);
    ASSERT_EQ(api().files(folder).size(), 1u);
    expectStored(replaced, changed);

    EXPECT_EQ(sentTo("/multipart/complete").size(), 2u);
    EXPECT_EQ(sentTo("/content/complete").size(), 2u);
    EXPECT_TRUE(sentTo("/multipart/abort").empty());
}

}  // namespace
}  // namespace cadrio
