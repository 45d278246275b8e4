// The demo drive mounted by the host through the real plug-in: what a user
// does in the folder with a shell and an editor reaches the drive, also
// across an outage, a crash of the host and a change made elsewhere.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <httplib.h>

#include "tests/host/mounted_drive_fixture.hpp"

namespace cadrio::host {
namespace {

using namespace testing;

using MountedDomainWriteTest = MountedDriveTest;

/// Runs `script` with sh in `folder`; true when it succeeded.
bool shell(const fs::path& folder, const std::string& script) {
    const std::string command = "cd '" + folder.string() + "' && " + script;
    return std::system(command.c_str()) == 0;
}

bool hasScratchNames(const std::map<std::string, nlohmann::json>& files) {
    return std::any_of(files.begin(), files.end(), [](const auto& file) {
        const std::string& path = file.first;
        return path.find(".swp") != std::string::npos || path.find('~') != std::string::npos ||
               path.find("4913") != std::string::npos || path.find(".tmp") != std::string::npos;
    });
}

TEST_F(MountedDomainWriteTest, ShellWorkReachesTheDrive) {
    // A tree made on the native file system, then copied in.
    const fs::path source = session_.scratch() / "source" / "Import";
    for (int folder = 0; folder < 4; ++folder) {
        fs::create_directories(source / ("f" + std::to_string(folder)));
        for (int file = 0; file < 50; ++file) {
            writeBytes(
                source / ("f" + std::to_string(folder)) / ("n" + std::to_string(file) + ".txt"),
                "note " + std::to_string(folder) + "/" + std::to_string(file) + "\n");
        }
    }
    std::string large(40 << 20, '\0');
    for (std::size_t at = 0; at < large.size(); ++at)
        large[at] = static_cast<char>((at * 7919) >> 9);
    writeBytes(source / "large.bin", large);

    ASSERT_TRUE(shell(root(), "mkdir -p a/b/c && cp -r '" + source.string() + "' ."));
    waitUntilSent();
    std::map<std::string, nlohmann::json> files = serverFiles();
    EXPECT_TRUE(serverFolders().count("a/b/c"));
    EXPECT_EQ(files.count("Import/f3/n49.txt"), 1u);
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const auto& f) { return f.first.rfind("Import/", 0) == 0; }),
              201);
    ASSERT_EQ(files.count("Import/large.bin"), 1u);
    EXPECT_EQ(serverContents(files.at("Import/large.bin")), large);
    EXPECT_EQ(serverContents(files.at("Import/f1/n7.txt")), "note 1/7\n");
    const auto movedId = files.at("Import/f0/n0.txt").at("id");

    ASSERT_TRUE(shell(root(),
                      "mv Import/f0/n0.txt Import/f0/renamed.txt && mv Import/f1 a/b/c/ && "
                      "rm -r Import/f2 && echo ajout >> Notes.txt"));
    waitUntilSent();
    files = serverFiles();
    ASSERT_EQ(files.count("Import/f0/renamed.txt"), 1u);
    EXPECT_EQ(files.at("Import/f0/renamed.txt").at("id"), movedId) << "a rename keeps the file";
    EXPECT_EQ(files.count("Import/f0/n0.txt"), 0u);
    EXPECT_EQ(files.count("a/b/c/f1/n7.txt"), 1u);
    EXPECT_EQ(files.count("Import/f2/n1.txt"), 0u);
    EXPECT_FALSE(serverFolders().count("Import/f2"));
    EXPECT_EQ(serverContents(files.at("Notes.txt")), bytesOf(root() / "Notes.txt"));
    EXPECT_TRUE(bytesOf(root() / "Notes.txt").ends_with("ajout\n"));
    EXPECT_EQ(domain_->pendingChangeCount(), 0u);
}

TEST_F(MountedDomainWriteTest, RequestsTheDriveCannotCarryAnswerAsPosixSays) {
    ASSERT_TRUE(shell(root(), "mkdir -p plein/sous && touch seul.txt"));
    struct Case {
        const char* what;
        std::function<int()> call;
        int error;
    };
    const auto at = [this](const char* name) { return (root() / name).string(); };
    const std::vector<Case> cases{
        {"rmdir of a folder with content", [&] { return ::rmdir(at("plein").c_str()); }, ENOTEMPTY},
        {"rename onto a taken name without replacing",
         [&] {
             return ::renameat2(AT_FDCWD, at("seul.txt").c_str(), AT_FDCWD, at("Notes.txt").c_str(),
                                RENAME_NOREPLACE);
         },
         EEXIST},
        {"exchange",
         [&] {
             return ::renameat2(AT_FDCWD, at("seul.txt").c_str(), AT_FDCWD, at("Notes.txt").c_str(),
                                RENAME_EXCHANGE);
         },
         EINVAL},
        {"file over a folder",
         [&] { return ::rename(at("seul.txt").c_str(), at("plein").c_str()); }, EISDIR},
        {"folder over a folder with content",
         [&] { return ::rename(at("Photos").c_str(), at("plein").c_str()); }, ENOTEMPTY},
        {"symbolic link", [&] { return ::symlink("Notes.txt", at("lien").c_str()); }, ENOTSUP},
        {"hard link", [&] { return ::link(at("Notes.txt").c_str(), at("lien").c_str()); }, ENOTSUP},
        {"named pipe", [&] { return ::mkfifo(at("tube").c_str(), 0644); }, EPERM},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(c.call(), -1) << c.what;
        EXPECT_EQ(errno, c.error) << c.what;
    }
    // A file renamed while it is written goes once closed, under its last
    // name and with all its bytes.
    const int fd = ::open(at("ouvert.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "début ", 7), 7);
    ASSERT_EQ(::rename(at("ouvert.txt").c_str(), at("plein/renommé.txt").c_str()), 0);
    ASSERT_EQ(::write(fd, "fin\n", 4), 4);
    ASSERT_EQ(::close(fd), 0);
    waitUntilSent();
    const auto files = serverFiles();
    EXPECT_EQ(files.count("ouvert.txt"), 0u);
    ASSERT_EQ(files.count("plein/renommé.txt"), 1u);
    EXPECT_EQ(serverContents(files.at("plein/renommé.txt")), "début fin\n");
    EXPECT_TRUE(serverFolders().count("plein/sous"));
    EXPECT_TRUE(files.count("Notes.txt"));
}

TEST_F(MountedDomainWriteTest, EditorSavesEndAsOneContentChangeOfTheOriginal) {
    struct Save {
        const char* editor;
        std::string script;
        std::string appended;
    };
    const bool haveVim = std::system("command -v vim >/dev/null 2>&1") == 0;
    const std::vector<Save> saves{
        {"temp-then-rename",
         "cat Notes.txt > Notes.txt.tmp123 && echo tmp >> Notes.txt.tmp123 && "
         "mv Notes.txt.tmp123 Notes.txt",
         "tmp\n"},
        {"vim", "TERM=dumb vim -c 'normal Gox' -c wq Notes.txt </dev/null >/dev/null 2>&1", "x\n"},
    };
    const auto original = onServer("Notes.txt");
    ASSERT_FALSE(original.is_null());
    for (const Save& save : saves) {
        SCOPED_TRACE(save.editor);
        if (std::string(save.editor) == "vim" && !haveVim) {
            std::printf("vim is not installed (scripts/install-deps installs it): its save is not tried\n");
            continue;
        }
        const std::size_t filesBefore = serverFiles().size();
        const std::string before = bytesOf(root() / "Notes.txt");
        ASSERT_TRUE(shell(root(), save.script));
        waitUntilSent();
        const auto files = serverFiles();
        EXPECT_EQ(files.size(), filesBefore);
        EXPECT_FALSE(hasScratchNames(files));
        ASSERT_EQ(files.count("Notes.txt"), 1u);
        EXPECT_EQ(files.at("Notes.txt").at("id"), original.at("id"));
        EXPECT_EQ(serverContents(files.at("Notes.txt")), before + save.appended);
    }
    // vim's backup and swap file went with it; they never reached the drive.
    EXPECT_EQ(namesIn(root()),
              (std::set<std::string>{"Archives", "Documents", "Notes.txt", "Photos"}));
}

TEST_F(MountedDomainWriteTest, AChangeClosedBeforeTheHostStopsReachesTheDriveAtTheNextStart) {
    mount(std::chrono::hours(1));
    ASSERT_TRUE(shell(root(), "echo 'avant arrêt' >> Notes.txt"));
    domain_.reset();  // the uploader never had its turn
    EXPECT_FALSE(serverContents(onServer("Notes.txt")).ends_with("avant arrêt\n"));
    mount();
    waitUntilSent();
    EXPECT_TRUE(serverContents(onServer("Notes.txt")).ends_with("avant arrêt\n"));
}

TEST_F(MountedDomainWriteTest, EditsDuringAnOutageAllReachTheDriveInOrder) {
    // The server answers 503 to the uploads until they failed twice at the
    // uploader (three tries of the plug-in each, three files at once).
    admin("/_admin/faults", {{"method", "POST"},
                             {"path_prefix", "/api/v1/drive/upload"},
                             {"kind", "status"},
                             {"status", 503},
                             {"count", 18}});
    std::string journal;
    for (int edit = 0; edit < 50; ++edit) {
        const std::string line = "édition " + std::to_string(edit) + "\n";
        writeBytes(root() / ("edit-" + std::to_string(edit) + ".txt"), line);
        std::ofstream(root() / "Journal.txt", std::ios::app) << line;
        journal += line;
    }
    EXPECT_EQ(bytesOf(root() / "Journal.txt"), journal) << "the local copy stays readable";
    EXPECT_GT(domain_->pendingChangeCount(), 0u);
    waitUntilSent();
    const auto faults =
        httplib::Client(std::string("127.0.0.1"), server_->port()).Get("/_admin/faults");
    ASSERT_TRUE(faults);
    EXPECT_EQ(nlohmann::json::parse(faults->body), nlohmann::json::array()) << "the outage was met";
    const auto files = serverFiles();
    for (int edit = 0; edit < 50; ++edit) {
        const std::string name = "edit-" + std::to_string(edit) + ".txt";
        ASSERT_EQ(files.count(name), 1u) << name;
        EXPECT_EQ(serverContents(files.at(name)), "édition " + std::to_string(edit) + "\n");
    }
    ASSERT_EQ(files.count("Journal.txt"), 1u);
    EXPECT_EQ(serverContents(files.at("Journal.txt")), journal);
}

TEST_F(MountedDomainWriteTest, AFullDriveRefusesAndTheFileStays) {
    admin("/_admin/drive/quota", {{"quota_max_mb", 0}});
    writeBytes(root() / "gros.bin", std::string(1 << 20, 'q'));
    std::unique_lock lock(reportsMutex_);
    ASSERT_TRUE(reportsChanged_.wait_for(lock, std::chrono::seconds(60),
                                         [this] { return !refusals_.empty(); }));
    EXPECT_EQ(refusals_.front().first, "gros.bin");
    EXPECT_TRUE(
        refusals_.front().second.is(fileprovider::FileProviderErrorCode::insufficientQuota));
    lock.unlock();
    EXPECT_EQ(bytesOf(root() / "gros.bin"), std::string(1 << 20, 'q'));
    EXPECT_EQ(serverFiles().count("gros.bin"), 0u);
}

TEST_F(MountedDomainWriteTest, AConflictKeepsBothVersions) {
    const std::string before = bytesOf(root() / "Notes.txt");  // cached at the drive's version
    admin("/_admin/drive/replace",
          {{"id", onServer("Notes.txt").at("id")}, {"content", "version du serveur\n"}});
    ASSERT_TRUE(shell(root(), "echo locale >> Notes.txt"));
    waitUntilSent();
    signalAndWait();
    const auto files = serverFiles();
    ASSERT_EQ(files.count("Notes.txt"), 1u);
    EXPECT_EQ(serverContents(files.at("Notes.txt")), "version du serveur\n");
    const auto copy = std::find_if(files.begin(), files.end(), [&](const auto& file) {
        return file.first != "Notes.txt" && file.first.rfind("Notes", 0) == 0;
    });
    ASSERT_NE(copy, files.end()) << "the conflict copy";
    EXPECT_EQ(serverContents(copy->second), before + "locale\n");
    const std::set<std::string> shown = namesIn(root());
    EXPECT_TRUE(shown.count("Notes.txt"));
    EXPECT_TRUE(shown.count(copy->first));
    EXPECT_EQ(bytesOf(root() / "Notes.txt"), "version du serveur\n");
}

}  // namespace
}  // namespace cadrio::host
