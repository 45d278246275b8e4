// The demo drive mounted by the host through the real plug-in: what a user
// sees in a terminal, and how the server's own changes reach the folder.

#include <gtest/gtest.h>

#define FUSE_USE_VERSION 34
#include <fuse3/fuse_lowlevel.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "platform/host/thumbnail_cache.hpp"
#include "tests/host/mounted_drive_fixture.hpp"

namespace cadrio::host {
namespace {

using namespace testing;

using MountedDomainTest = MountedDriveTest;

TEST_F(MountedDomainTest, TheDriveReadsAsAFolderAndDownloadsOnlyWhatIsOpened) {
    EXPECT_EQ(namesIn(root()), (std::set<std::string>{"Archives", "Documents", "Notes.txt", "Photos"}));
    EXPECT_EQ(namesIn(root() / "Documents"), std::set<std::string>{"Rapport.pdf"});
    EXPECT_EQ(namesIn(root() / "Photos" / "2024"), std::set<std::string>{"plage.jpg"});
    // Archived contents are not shown at all.
    EXPECT_TRUE(namesIn(root() / "Archives").empty());
    EXPECT_FALSE(fs::exists(root() / "Archives" / "ancien.zip"));

    const nlohmann::json report = onServer("Rapport.pdf");
    const fs::path shown = root() / "Documents" / "Rapport.pdf";
    EXPECT_EQ(fs::file_size(shown), report.at("file_size").get<std::uintmax_t>());
    EXPECT_TRUE(fs::is_directory(root() / "Photos"));
    EXPECT_EQ(regularFilesUnder(cacheDirectory()), 0u) << "sizes come from the listing, not from downloads";

    // Listing Photos/2024 left a preview of plage.jpg where file managers
    // look, stamped as they check it, without downloading the photo.
    domain_->waitForThumbnails();
    const fs::path photo = root() / "Photos" / "2024" / "plage.jpg";
    const fs::path thumbnail = ThumbnailCache(thumbnailRoot()).thumbnailOf(photo, ThumbnailCache::Flavour::normal);
    GdkPixbuf* preview = gdk_pixbuf_new_from_file(thumbnail.c_str(), nullptr);
    ASSERT_NE(preview, nullptr) << thumbnail;
    struct stat photoStatus {};
    ASSERT_EQ(::stat(photo.c_str(), &photoStatus), 0);
    const char* uri = gdk_pixbuf_get_option(preview, "tEXt::Thumb::URI");
    const char* mtime = gdk_pixbuf_get_option(preview, "tEXt::Thumb::MTime");
    EXPECT_EQ(uri ? std::string(uri) : "", ThumbnailCache::uriOf(photo));
    EXPECT_EQ(mtime ? std::string(mtime) : "", std::to_string(photoStatus.st_mtime));
    g_object_unref(preview);
    EXPECT_EQ(regularFilesUnder(cacheDirectory()), 0u) << "previews come from the server's thumbnails";

    EXPECT_EQ(bytesOf(shown), bytesOf(server_->blobs().pathOf(report.at("file_path").get<std::string>())));
    EXPECT_EQ(regularFilesUnder(cacheDirectory()), 1u);
    EXPECT_EQ(bytesOf(shown), bytesOf(server_->blobs().pathOf(report.at("file_path").get<std::string>())));
    EXPECT_TRUE(domain_->downloadProgress().finished);
}

TEST_F(MountedDomainTest, RemoteChangesShowAtTheNextListingAlsoAfterTheCursorsExpire) {
    // The kernel has seen the old names and listings, twice so that it
    // serves the second from its own cache: what follows must invalidate them.
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(namesIn(root() / "Documents"), std::set<std::string>{"Rapport.pdf"});
        ASSERT_EQ(namesIn(root()).count("Notes.txt"), 1u);
    }
    ASSERT_TRUE(fs::exists(root() / "Documents" / "Rapport.pdf"));

    renameFile("Rapport.pdf", "Bilan.pdf");
    admin("/_admin/drive/trash", {{"kind", "file"}, {"id", onServer("Notes.txt").at("id")}});
    signalAndWait();
    EXPECT_EQ(namesIn(root() / "Documents"), std::set<std::string>{"Bilan.pdf"});
    EXPECT_FALSE(fs::exists(root() / "Documents" / "Rapport.pdf"));
    EXPECT_FALSE(fs::exists(root() / "Notes.txt"));
    EXPECT_EQ(namesIn(root()), (std::set<std::string>{"Archives", "Documents", "Photos"}));

    // A new name alone: the kernel has no entry of it to drop, only the
    // listing it now serves from its cache.
    ASSERT_EQ(namesIn(root()).size(), 3u);
    admin("/_admin/drive/files", {{"name", "Nouveau.txt"}, {"content", "neuf"}});
    signalAndWait();
    EXPECT_EQ(namesIn(root()), (std::set<std::string>{"Archives", "Documents", "Nouveau.txt", "Photos"}));

    // An expired anchor (-1002) lists the drive again.
    admin("/_admin/drive/expire-cursors", nlohmann::json::object());
    renameFile("Bilan.pdf", "Synthese.pdf");
    signalAndWait();
    EXPECT_EQ(namesIn(root() / "Documents"), std::set<std::string>{"Synthese.pdf"});
    EXPECT_EQ(bytesOf(root() / "Documents" / "Synthese.pdf").substr(0, 8), "%PDF-1.4");
}

/// Leaves at `mountPoint` what a host killed with SIGKILL leaves: a mount
/// whose process is gone ("Transport endpoint is not connected").
void leaveDeadMount(const fs::path& mountPoint) {
    const pid_t child = ::fork();
    if (child == 0) {
        static const fuse_lowlevel_ops none{};
        char program[] = "dead-host";
        char* argv[] = {program, nullptr};
        fuse_args args = FUSE_ARGS_INIT(1, argv);
        fuse_session* session = fuse_session_new(&args, &none, sizeof(none), nullptr);
        ::_exit(session != nullptr && fuse_session_mount(session, mountPoint.c_str()) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(MountedDomainTest, ARemountOverADeadMountReusesTheReplica) {
    const struct stat before = [&] {
        struct stat status {};
        ::stat((root() / "Documents" / "Rapport.pdf").c_str(), &status);
        return status;
    }();
    domain_.reset();
    EXPECT_TRUE(namesIn(root()).empty()) << "unmounted cleanly";

    leaveDeadMount(root());
    struct stat dead {};
    ASSERT_EQ(::stat(root().c_str(), &dead), -1);
    ASSERT_EQ(errno, ENOTCONN);
    mount();
    struct stat after {};
    ASSERT_EQ(::stat((root() / "Documents" / "Rapport.pdf").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "inodes stay with their item";
    EXPECT_EQ(after.st_size, before.st_size);
}

}  // namespace
}  // namespace cadrio::host
