// Listings, grants and metadata changes against the local drive server,
// over real sockets and libcurl.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/api/testing/api_fixture.hpp"
#include "core/model/content_hasher.hpp"
#include "core/support/temporary_directory.hpp"
#include "tests/api/live_drive.hpp"

namespace cadrio {
namespace {

using testing::driveErrorOf;
using testing::kDemoAccount;
using testing::LiveDrive;

template <class Item>
std::vector<std::string> namesOf(const std::vector<Item>& items) {
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(item.name);
    std::sort(names.begin(), names.end());
    return names;
}

using DriveAPIIntegration = LiveDrive;

TEST_F(DriveAPIIntegration, ListsTheDemoDrive) {
    EXPECT_EQ(namesOf(api().folders(std::nullopt)),
              (std::vector<std::string>{"Archives", "Documents", "Photos"}));
    EXPECT_EQ(namesOf(api().folders(0)), namesOf(api().folders(std::nullopt)));
    EXPECT_EQ(namesOf(api().files(std::nullopt)), std::vector<std::string>{"Notes.txt"});
    const DriveFolder photos = folderNamed("Photos");
    EXPECT_EQ(namesOf(api().folders(photos.id)), std::vector<std::string>{"2024"});

    // The archived file is in the feed but not in its folder's listing.
    const DriveFolder archives = folderNamed("Archives");
    EXPECT_TRUE(api().files(archives.id).empty());
    const DriveChanges all = api().changes(0);
    EXPECT_GT(all.cursor, 0);
    const auto archived = std::find_if(all.files.begin(), all.files.end(),
                                       [](const DriveFile& f) { return f.name == "ancien.zip"; });
    ASSERT_NE(archived, all.files.end());
    EXPECT_EQ(archived->storageClass, StorageClass::glacier);
    EXPECT_EQ(archived->parentFolderID, archives.id);
    EXPECT_EQ(driveErrorOf([&] { api().contentURL(*archived); }), DriveError::archived());

    const DriveQuota quota = api().quota();
    EXPECT_EQ(quota.maxMegabytes, 10240);
    EXPECT_GT(quota.usedMegabytes, 0);
}

TEST_F(DriveAPIIntegration, GrantsLeadToTheContentAndTheThumbnail) {
    TemporaryDirectory dir;
    const DriveFile notes = fileNamed("Notes.txt");
    const DriveDownload grant = api().contentURL(notes);
    EXPECT_GT(grant.expiresIn, 0);
    download(grant.url, dir / "notes");
    EXPECT_EQ(grant.contentHash, ContentHasher::sha256(dir / "notes"));
    EXPECT_EQ(grant.fileSize, static_cast<std::int64_t>(std::filesystem::file_size(dir / "notes")));

    const DriveFile photo =
        fileNamed("plage.jpg", folderNamed("2024", folderNamed("Photos").id).id);
    const auto thumbnail = api().thumbnailURL(photo);
    ASSERT_TRUE(thumbnail);
    download(*thumbnail, dir / "thumb");
    std::ifstream in(dir / "thumb", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");  // a JPEG
    EXPECT_EQ(api().thumbnailURL(notes), std::nullopt);
}

TEST_F(DriveAPIIntegration, MetadataChangesShowInListingsAndInTheFeed) {
    const std::int64_t start = api().changes(0).cursor;
    const DriveFile notes = fileNamed("Notes.txt");

    const std::int64_t projects = api().createFolder("Projets \"2025\"", std::nullopt);
    const std::int64_t inner = api().createFolder("Brouillons", projects);
    api().renameFile(notes.id, "Notes « renommées ».txt");
    api().move({notes.id}, {}, projects);
    api().updateFolder(inner, "Brouillons anciens",
                       std::optional<std::optional<std::int64_t>>(std::in_place));

    EXPECT_EQ(namesOf(api().files(projects)), std::vector<std::string>{"Notes « renommées ».txt"});
    EXPECT_TRUE(api().files(std::nullopt).empty());
    EXPECT_EQ(namesOf(api().folders(std::nullopt)),
              (std::vector<std::string>{"Archives", "Brouillons anciens", "Documents", "Photos",
                                        "Projets \"2025\""}));

    const DriveChanges changes = api().changes(start);
    EXPECT_GT(changes.cursor, start);
    EXPECT_EQ(namesOf(changes.folders),
              (std::vector<std::string>{"Brouillons anciens", "Projets \"2025\""}));
    EXPECT_EQ(namesOf(changes.files), std::vector<std::string>{"Notes « renommées ».txt"});

    api().trash({}, {projects});
    EXPECT_EQ(driveErrorOf([&] { api().files(projects); }), DriveError::notFound());
    const DriveChanges afterTrash = api().changes(changes.cursor);
    ASSERT_FALSE(afterTrash.folders.empty());
    EXPECT_TRUE(afterTrash.folders.front().isTrashed);

    server().store().expireCursors(kDemoAccount, std::nullopt);
    EXPECT_EQ(driveErrorOf([&] { api().changes(start); }), DriveError::cursorExpired());
}

TEST_F(DriveAPIIntegration, RefusalsOfTheServerComeBackAsTheirCases) {
    EXPECT_EQ(driveErrorOf([&] { api().renameFile(987654, "x"); }), DriveError::notFound());
    EXPECT_EQ(driveErrorOf([&] { api().createFolder("a/b", std::nullopt); }).kind(),
              DriveError::Kind::http);

    client_->logout();
    EXPECT_EQ(driveErrorOf([&] { api().quota(); }), DriveError::notAuthenticated());
}

}  // namespace
}  // namespace cadrio
