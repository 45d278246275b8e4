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

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "platform/fileprovider/plugin_library.hpp"
#include "platform/host/mounted_domain.hpp"
#include "platform/host/thumbnail_cache.hpp"
#include "tests/support/demo_server.hpp"
#include "tests/support/plugin_session.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::size_t regularFilesUnder(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

/// Why FUSE cannot be used here, or empty when it can.
std::string fuseUnavailable() {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    ::close(fd);
    return {};
}

class MountedDomainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = fuseUnavailable(); !why.empty()) GTEST_SKIP() << why;
        library_ = fileprovider::PluginLibrary::open(CADRIO_FILEPROVIDER_PLUGIN);
        mount();
    }
    void TearDown() override {
        domain_.reset();
        server_->stop();
    }

    void mount() {
        MountedDomain::Settings settings;
        settings.mountPoint = root();
        settings.replicaFile = session_.scratch() / "replica.sqlite";
        settings.cacheDirectory = cacheDirectory();
        settings.thumbnailRoot = thumbnailRoot();
        const fileprovider::Domain domain{"demo", testing::kDemoAccount};
        auto library = library_;
        domain_ = std::make_unique<MountedDomain>(
            domain, [library, domain](const auto& host) { return library->createExtension(domain, host); }, settings,
            SystemClock::shared());
        waitUntilStable();
    }
    fs::path root() const { return session_.scratch() / "Cadrio"; }
    fs::path cacheDirectory() const { return session_.scratch() / "cache"; }
    fs::path thumbnailRoot() const { return session_.scratch() / "thumbnails"; }

    void waitUntilStable() {
        auto stable = std::make_shared<std::promise<void>>();
        domain_->whenStable([stable] { stable->set_value(); });
        // Bounds a broken run only: the answer itself wakes the test.
        ASSERT_EQ(stable->get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }
    void signalAndWait() {
        domain_->signalWorkingSet();
        waitUntilStable();
    }

    nlohmann::json onServer(const std::string& name) const {
        const nlohmann::json drive = server_->store().describe(testing::kDemoAccount);
        for (const auto& record : drive.at("files")) {
            if (record.value("file_name", "") == name && record.value("to_delete", 0) == 0) return record;
        }
        return nullptr;
    }
    void admin(const std::string& path, nlohmann::json body) const {
        body["email"] = testing::kDemoAccount;
        httplib::Client http("127.0.0.1", server_->port());
        const auto result = http.Post(path, body.dump(), "application/json");
        ASSERT_TRUE(result) << path;
        ASSERT_EQ(result->status, 200) << path << ": " << result->body;
    }
    void renameFile(const std::string& from, const std::string& to) const {
        admin("/_admin/drive/rename", {{"kind", "file"}, {"id", onServer(from).at("id")}, {"name", to}});
    }

    std::unique_ptr<devserver::DevServer> server_ = testing::startDemoServer();
    testing::PluginSession session_{*server_};
    std::shared_ptr<fileprovider::PluginLibrary> library_;
    std::unique_ptr<MountedDomain> domain_;
};

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

    // Read-only until local changes are sent.
    EXPECT_EQ(::open((root() / "nouveau.txt").c_str(), O_CREAT | O_WRONLY, 0644), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::open(shown.c_str(), O_WRONLY), -1);
    EXPECT_EQ(errno, EROFS);
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
