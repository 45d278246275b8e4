#include "tests/convergence/rig.hpp"

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <fstream>
#include <stdexcept>

namespace cadrio::convergence {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kBusName = "zelvano.cadrio.FileProviderHost";
constexpr const char* kPassword = "convergence-pass";

}  // namespace

Rig::Rig(const RigPrograms& programs, const fs::path& work, Clock& clock)
    : clock_(clock), work_(work), home_(work / "home"), root_(home_ / "Cadrio") {
    if (bus_.address().empty()) throw std::runtime_error("no private session bus (dbus-daemon)");
    fs::create_directories(home_);
    startServer(programs);
    startApplication(programs);
    if (!awaitHost(60s)) throw std::runtime_error("the drive was not mounted at " + root_.string());
    if (!settle()) throw std::runtime_error("the first stabilisation did not answer");
}

Rig::~Rig() {
    application_->write("q\n");
    application_->stop(SIGTERM);
    if (const pid_t host = hostPid(); host > 0) {
        ::kill(host, SIGTERM);
        ::waitpid(host, nullptr, 0);
    }
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    ::umount2(root_.c_str(), MNT_DETACH);
    server_->stop(SIGTERM);
}

void Rig::startServer(const RigPrograms& programs) {
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{programs.devserver.string(), "--port", "0", "--seed", "empty"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"}, work_ / "devserver.log");
    if (!server_->waitFor("listening on http://127.0.0.1:", 30s)) throw std::runtime_error("the devserver did not start");
    server_->waitFor("\n", 5s);
    const std::string out = server_->output();
    const int port = std::stoi(out.substr(out.find("127.0.0.1:") + 10));
    admin_ = std::make_unique<AdminApi>(port, account_);
    if (!admin_->post("/_admin/accounts", {{"password", kPassword}, {"quota_max_mb", 100000}}).ok()) {
        throw std::runtime_error("the account could not be created");
    }
}

void Rig::startApplication(const RigPrograms& programs) {
    const int port = std::stoi(server_->output().substr(server_->output().find("127.0.0.1:") + 10));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    // The application starts the host itself, as it does on a desktop; the
    // wrapper only keeps the host's log.
    const fs::path wrapper = work_ / "host-wrapper.sh";
    std::ofstream(wrapper) << "#!/bin/sh\nexec '" << programs.host.string() << "' --foreground 2>>'"
                           << (work_ / "host.log").string() << "'\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    std::vector<std::string> environment = {
        "HOME=" + home_.string(),
        "XDG_DATA_HOME=" + (home_ / "data").string(),
        "XDG_CONFIG_HOME=" + (home_ / "config").string(),
        "XDG_CACHE_HOME=" + (home_ / "cache").string(),
        "XDG_STATE_HOME=" + (home_ / "state").string(),
        "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(),
        "CADRIO_API_BASE_URL=" + base + "/api/v1",
        "CADRIO_PUSH_BASE_URL=" + base,
        "CADRIO_PLUGIN_PATH=" + programs.plugin.parent_path().string(),
        "CADRIO_PLUGINKIT=" + programs.pluginkit.string(),
        "CADRIO_FILEPROVIDERD=" + wrapper.string(),
        "CADRIO_LOG_TARGET=stderr",
        "CADRIO_LOG_LEVEL=debug",
        "PATH=/usr/bin:/bin",
    };
    application_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{programs.application.string(), "--headless", "--email", account_, "--password-stdin"},
        environment, work_ / "app.log");
    application_->write(std::string(kPassword) + "\n");
    if (!application_->waitFor("Commandes :", 60s)) {
        throw std::runtime_error("the application did not sign in:\n" + application_->output());
    }
}

bool Rig::killHost() {
    const pid_t host = hostPid();
    if (host <= 0) return false;
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
    return true;
}

bool Rig::awaitHost(Clock::Duration timeout) {
    const auto deadline = clock_.now() + timeout;
    while (clock_.now() < deadline) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (hostPid() > 0 && mountAnswers()) return true;
        clock_.sleepFor(200ms, {});
    }
    return false;
}

bool Rig::settle() {
    if (!application_->write("r\n") || !application_->waitFor("Actualisation terminée.", 180s)) return false;
    const std::string account = account_;
    return callHost("SignalWorkingSet", "s", account.c_str(), nullptr).empty() &&
           callHost("WaitForStabilization", "s", account.c_str(), nullptr).empty();
}

std::optional<std::uint64_t> Rig::pendingChanges() {
    std::uint64_t pending = 0;
    if (!callHost("GetDomainTransfers", "s", account_.c_str(), &pending).empty()) return std::nullopt;
    return pending;
}

pid_t Rig::hostPid() {
    sd_bus* bus = nullptr;
    pid_t pid = -1;
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, bus_.address().c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        sd_bus_creds* creds = nullptr;
        if (sd_bus_get_name_creds(bus, kBusName, SD_BUS_CREDS_PID, &creds) >= 0) sd_bus_creds_get_pid(creds, &pid);
        sd_bus_creds_unref(creds);
    }
    sd_bus_flush_close_unref(bus);
    return pid;
}

bool Rig::mountAnswers() const {
    struct stat own {}, parent {};
    struct statvfs fs {};
    return ::statvfs(root_.c_str(), &fs) == 0 && ::stat(root_.c_str(), &own) == 0 &&
           ::stat(home_.c_str(), &parent) == 0 && own.st_dev != parent.st_dev;
}

std::string Rig::callHost(const char* method, const char* types, const char* argument, std::uint64_t* pending) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, bus_.address().c_str()) < 0 ||
        sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_flush_close_unref(bus);
        return "no bus";
    }
    sd_bus_set_method_call_timeout(bus, 180'000'000);
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus, kBusName, "/zelvano/cadrio/FileProviderHost",
                                          "zelvano.cadrio.FileProviderHost.DomainManager", method, &error, &reply,
                                          types, argument);
    std::string outcome;
    if (result < 0) {
        outcome = std::string(error.name ? error.name : "error") + ": " + (error.message ? error.message : "");
    } else if (pending != nullptr) {
        std::int64_t a, b, d, e;
        int c, f;
        if (sd_bus_message_read(reply, "xxbxxbt", &a, &b, &c, &d, &e, &f, pending) < 0) outcome = "bad reply";
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return outcome;
}

}  // namespace cadrio::convergence
