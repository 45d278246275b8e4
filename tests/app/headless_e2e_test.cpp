// zelvano-cadrio --headless as a user runs it: in a terminal (a
// pseudo-terminal here), signing in to an account with a second factor,
// the file-provider host started by the application itself, the drive shown
// in the folder, a change made on the server seen there, and a sign-out that
// leaves nothing behind.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "core/support/temporary_directory.hpp"
#include "devserver/totp.hpp"
#include "platform/host/private_bus_testing.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio::app {
namespace {

namespace fs = std::filesystem;
constexpr const char* kAccount = "2fa@cadrio.test";

/// Everything a child writes on one descriptor, gathered by a thread so the
/// child never blocks on a full pipe; waits are bounded so that a broken run
/// fails instead of hanging.
class Transcript {
public:
    explicit Transcript(int fd) : fd_(fd), reader_([this] { read(); }) {}
    ~Transcript() {
        reader_.join();
        ::close(fd_);
    }
    /// Waits until `text` appears after what earlier waits consumed, and
    /// consumes up to its end.
    bool waitFor(const std::string& text) {
        std::unique_lock lock(mutex_);
        const bool seen = changed_.wait_for(lock, std::chrono::seconds(90), [&] {
            return text_.find(text, consumed_) != std::string::npos;
        });
        if (seen) consumed_ = text_.find(text, consumed_) + text.size();
        return seen;
    }
    std::string all() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    void read() {
        char buffer[4096];
        for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
            if (got <= 0) continue;
            std::lock_guard lock(mutex_);
            text_.append(buffer, static_cast<std::size_t>(got));
            changed_.notify_all();
        }
    }
    const int fd_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    std::size_t consumed_ = 0;
    std::thread reader_;
};

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

bool isMounted(const fs::path& folder) {
    std::ifstream mounts("/proc/mounts");
    for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);) {
        if (point == folder.string()) return true;
    }
    return false;
}

/// The pid of the bus name's owner, or -1.
pid_t ownerOf(const std::string& busAddress, const char* name) {
    sd_bus* bus = nullptr;
    pid_t pid = -1;
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, busAddress.c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        sd_bus_creds* creds = nullptr;
        if (sd_bus_get_name_creds(bus, name, SD_BUS_CREDS_PID, &creds) >= 0) sd_bus_creds_get_pid(creds, &pid);
        sd_bus_creds_unref(creds);
    }
    sd_bus_flush_close_unref(bus);
    return pid;
}

class HeadlessE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "needs root and /dev/fuse";
        ASSERT_FALSE(bus_.address().empty());
        // The host the application starts detaches itself; as the subreaper
        // the test still collects it.
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        server_ = cadrio::testing::startDemoServer(16);
        admin("/_admin/drive/files", {{"name", "Notes.txt"}, {"content", "à lire"}});
    }

    void TearDown() override {
        if (app_ > 0) {
            ::kill(app_, SIGKILL);
            ::waitpid(app_, nullptr, 0);
        }
        if (const pid_t host = ownerOf(bus_.address(), "zelvano.cadrio.FileProviderHost"); host > 0) {
            ::kill(host, SIGTERM);
            ::waitpid(host, nullptr, 0);
        }
        if (isMounted(folder())) ::umount2(folder().c_str(), MNT_DETACH);
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    }

    fs::path folder() const { return home_.path() / "Cadrio"; }
    fs::path container() const { return home_.path() / "data" / "K7QW2M4XRD.group.zelvano.cadrio"; }

    void admin(const std::string& path, nlohmann::json body) const {
        body["email"] = kAccount;
        httplib::Client http("127.0.0.1", server_->port());
        const auto result = http.Post(path, body.dump(), "application/json");
        ASSERT_TRUE(result) << path;
        ASSERT_EQ(result->status, 200) << path << ": " << result->body;
    }

    nlohmann::json onServer(const std::string& name) const {
        const nlohmann::json drive = server_->store().describe(kAccount);
        for (const auto& record : drive.at("files")) {
            if (record.value("file_name", "") == name) return record;
        }
        return nullptr;
    }

    /// Starts the application in a pseudo-terminal, its log on a pipe.
    void startApplication() {
        int logPipe[2];
        ASSERT_EQ(::pipe2(logPipe, O_CLOEXEC), 0);
        std::vector<std::string> variables = {
            "HOME=" + home_.path().string(),
            "XDG_DATA_HOME=" + (home_.path() / "data").string(),
            "XDG_CONFIG_HOME=" + (home_.path() / "config").string(),
            "XDG_CACHE_HOME=" + (home_.path() / "cache").string(),
            "XDG_STATE_HOME=" + (home_.path() / "state").string(),
            "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
            "CADRIO_API_BASE_URL=" + server_->baseURL() + "/api/v1",
            "CADRIO_PUSH_BASE_URL=" + server_->baseURL(),
            "CADRIO_PLUGIN_PATH=" + fs::path(CADRIO_FILEPROVIDER_PLUGIN).parent_path().string(),
            std::string("CADRIO_PLUGINKIT=") + CADRIO_PLUGINKIT,
            std::string("CADRIO_FILEPROVIDERD=") + CADRIO_FILEPROVIDERD,
            "CADRIO_LOG_TARGET=stderr",
            "CADRIO_LOG_LEVEL=debug",
            "PATH=/usr/bin:/bin",
        };
        int terminal = -1;
        app_ = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(app_, 0);
        if (app_ == 0) {
            ::dup2(logPipe[1], 2);
            std::vector<char*> envp;
            for (std::string& variable : variables) envp.push_back(variable.data());
            envp.push_back(nullptr);
            char* argv[] = {const_cast<char*>(CADRIO_APPLICATION), const_cast<char*>("--headless"), nullptr};
            ::execve(CADRIO_APPLICATION, argv, envp.data());
            ::_exit(127);
        }
        ::close(logPipe[1]);
        terminal_ = terminal;
        screen_ = std::make_unique<Transcript>(::dup(terminal));
        log_ = std::make_unique<Transcript>(logPipe[0]);
    }

    void type(const std::string& line) const {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(terminal_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void expectOnScreen(const std::string& text) {
        ASSERT_TRUE(screen_->waitFor(text)) << "no \"" << text << "\" in:\n" << screen_->all() << "\nlog:\n" << log_->all();
    }

    /// Exit status of the application once it ended (-1: killed).
    int waitForExit() {
        int status = 0;
        ::waitpid(std::exchange(app_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    host::testing::PrivateBus bus_;
    TemporaryDirectory home_{"headless-e2e"};
    std::unique_ptr<devserver::DevServer> server_;
    pid_t app_ = -1;
    int terminal_ = -1;
    std::unique_ptr<Transcript> screen_;
    std::unique_ptr<Transcript> log_;
};

TEST_F(HeadlessE2ETest, SignsInWithACodeShowsTheDriveFollowsItAndSignsOutCleanly) {
    startApplication();
    expectOnScreen("Adresse : ");
    type(kAccount);
    expectOnScreen("Mot de passe : ");
    type(cadrio::testing::kDemoPassword);
    expectOnScreen("Code de l'application d'authentification ou code de secours : ");
    const auto key = devserver::totp::decodeBase32("JBSWY3DPEHPK3PXP");
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    type(devserver::totp::codeAt(*key, std::chrono::duration_cast<std::chrono::seconds>(now).count()));
    expectOnScreen("Se souvenir de cet ordinateur ? [o/N] : ");
    type("n");
    expectOnScreen("Statut : Cadrio à jour");
    expectOnScreen("Commandes :");

    type("o");
    expectOnScreen("Dossier : " + folder().string());
    type("r");
    expectOnScreen("Actualisation terminée.");
    ASSERT_TRUE(isMounted(folder()));
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"Notes.txt"});

    // The server announces the rename on its event stream; the application
    // asks the host to read the drive again (after its debounce) by itself.
    admin("/_admin/drive/rename", {{"kind", "file"}, {"id", onServer("Notes.txt").at("id")}, {"name", "Lu.txt"}});
    ASSERT_TRUE(log_->waitFor("Signal envoyé au système.")) << log_->all();
    type("r");  // waits for the host to settle: the rename is applied by then
    expectOnScreen("Actualisation terminée.");
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"Lu.txt"});
    ASSERT_TRUE(fs::exists(container() / "item-store-2fa@cadrio.test.json"));

    type("s");
    expectOnScreen("Déconnecté.");
    EXPECT_FALSE(isMounted(folder()));
    EXPECT_FALSE(fs::exists(container() / "item-store-2fa@cadrio.test.json"));
    EXPECT_FALSE(fs::exists(container() / "summary-2fa@cadrio.test.json"));
    expectOnScreen("Adresse [2fa@cadrio.test] : ");

    ::kill(app_, SIGTERM);
    EXPECT_EQ(waitForExit(), 0);
    EXPECT_EQ(screen_->all().find(cadrio::testing::kDemoPassword), std::string::npos) << "the password was echoed";
}

}  // namespace
}  // namespace cadrio::app
