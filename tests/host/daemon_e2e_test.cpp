// cadrio-fileproviderd run as the tray application runs it: a program on the
// session bus, mounting the demo drive through the built plug-in, killed
// with SIGKILL right after a file was written and started again (the file
// still reaches the drive), and following the plug-in's election while it
// runs.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/demo_server.hpp"
#include "tests/support/plugin_session.hpp"

extern char** environ;

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

/// The daemon as a child process whose log (standard error) the test reads
/// line by line.
class Daemon {
public:
    Daemon(const fs::path& mountRoot, const fs::path& scratch) {
        std::vector<std::string> variables;
        for (char** variable = environ; *variable != nullptr; ++variable) variables.emplace_back(*variable);
        variables.push_back("HOME=" + scratch.string());
        variables.push_back("XDG_CACHE_HOME=" + (scratch / "cache").string());
        variables.push_back("CADRIO_PLUGIN_PATH=" + fs::path(CADRIO_FILEPROVIDER_PLUGIN).parent_path().string());
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::string root = mountRoot.string();
        char* argv[] = {const_cast<char*>(CADRIO_FILEPROVIDERD), const_cast<char*>("--foreground"),
                        const_cast<char*>("--mount-root"), root.data(), nullptr};
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        if (posix_spawn(&pid_, CADRIO_FILEPROVIDERD, &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        log_ = fds[0];
    }
    ~Daemon() {
        if (pid_ > 0) stop(SIGKILL);
        if (log_ >= 0) ::close(log_);
    }
    /// Reads the log until a line holds `text`; false after a minute without it.
    bool waitForLine(const std::string& text) {
        while (true) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                const std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.find(text) != std::string::npos) return true;
            }
            pollfd fd{log_, POLLIN, 0};
            char buffer[4096];
            if (::poll(&fd, 1, 60'000) <= 0) return false;
            const ssize_t got = ::read(log_, buffer, sizeof buffer);
            if (got <= 0) return false;
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    /// Sends `signal` and returns the exit status (-1: killed by a signal).
    int stop(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int log_ = -1;
    std::string pending_;
};

/// Calls the domain manager on the session bus; empty on success, else the
/// error's name and message.
std::string callManager(const char* method, const char* types, const char* first, const char* second = nullptr) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return "no session bus";
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    sd_bus_set_method_call_timeout(bus, 120'000'000);
    const int result = second != nullptr
                           ? sd_bus_call_method(bus, "zelvano.cadrio.FileProviderHost", "/zelvano/cadrio/FileProviderHost",
                                                "zelvano.cadrio.FileProviderHost.DomainManager", method, &error, &reply,
                                                types, first, second)
                           : sd_bus_call_method(bus, "zelvano.cadrio.FileProviderHost", "/zelvano/cadrio/FileProviderHost",
                                                "zelvano.cadrio.FileProviderHost.DomainManager", method, &error, &reply,
                                                types, first);
    std::string outcome = result >= 0 ? "" : std::string(error.name ? error.name : "") + ": " + (error.message ? error.message : "");
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return outcome;
}

int pluginKit(const std::string& arguments) {
    const std::string command = std::string("CADRIO_PLUGIN_PATH='") +
                                fs::path(CADRIO_FILEPROVIDER_PLUGIN).parent_path().string() + "' '" +
                                CADRIO_PLUGINKIT + "' " + arguments + " >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool isMountPoint(const fs::path& folder) {
    struct stat own {}, parent {};
    return ::stat(folder.c_str(), &own) == 0 && ::stat(folder.parent_path().c_str(), &parent) == 0 &&
           own.st_dev != parent.st_dev;
}

bool listsTheDemoDrive(const fs::path& root) {
    std::error_code error;
    return fs::exists(root / "Documents" / "Rapport.pdf", error) && fs::is_directory(root / "Photos", error);
}

/// True when the demo drive holds one live file `name` with `bytes`.
bool onServer(devserver::DevServer& server, const std::string& name, const std::string& bytes) {
    const nlohmann::json drive = server.store().describe(testing::kDemoAccount);
    int found = 0;
    for (const auto& record : drive.at("files")) {
        if (record.value("file_name", "") == name && record.value("to_delete", 0) == 0) {
            ++found;
            if (record.value("file_size", std::int64_t{-1}) != static_cast<std::int64_t>(bytes.size())) return false;
        }
    }
    return found == 1;
}

TEST(DaemonTest, SurvivesAKillAndFollowsThePlugInElection) {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) GTEST_SKIP() << "/dev/fuse cannot be opened: " << std::strerror(errno);
    ::close(fd);
    const auto server = testing::startDemoServer();
    const testing::PluginSession session(*server);
    const fs::path root = session.scratch() / "Cadrio";
    const char* const id = "zelvano.cadrio.sync.fileprovider";
    {
        Daemon daemon(root, session.scratch());
        ASSERT_TRUE(daemon.waitForLine("Gestionnaire de domaines publié"));
        ASSERT_EQ(callManager("AddDomain", "ss", "demo", testing::kDemoAccount), "");
        ASSERT_EQ(callManager("WaitForStabilization", "s", "demo"), "");
        ASSERT_TRUE(daemon.waitForLine("Réplique vide"));
        EXPECT_TRUE(listsTheDemoDrive(root));
        // Killed as soon as close() returned: the edit is only on disk.
        std::ofstream(root / "Documents" / "après-coup.txt") << "écrit juste avant la panne";
        EXPECT_EQ(daemon.stop(SIGKILL), -1);
    }
    struct statvfs dead {};
    EXPECT_EQ(::statvfs(root.c_str(), &dead), -1);
    EXPECT_EQ(errno, ENOTCONN) << "the killed daemon's mount is left behind";

    Daemon daemon(root, session.scratch());
    ASSERT_TRUE(daemon.waitForLine("Réplique reprise")) << "the replica was not reused";
    ASSERT_TRUE(daemon.waitForLine("Domaine demo monté"));
    EXPECT_TRUE(listsTheDemoDrive(root));
    ASSERT_EQ(callManager("WaitForStabilization", "s", "demo"), "");
    EXPECT_TRUE(onServer(*server, "après-coup.txt", "écrit juste avant la panne"))
        << "the change made before the kill did not reach the drive";

    ASSERT_EQ(pluginKit(std::string("-e ignore -i ") + id), 0);
    ASSERT_TRUE(daemon.waitForLine("Domaine demo démonté"));
    EXPECT_FALSE(isMountPoint(root));
    ASSERT_EQ(pluginKit(std::string("-e use -i ") + id), 0);
    ASSERT_TRUE(daemon.waitForLine("Domaine demo monté"));
    EXPECT_TRUE(listsTheDemoDrive(root));

    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    EXPECT_FALSE(isMountPoint(root));
}

}  // namespace
}  // namespace cadrio::host
