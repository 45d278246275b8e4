// From a change on the drive server to the new name in the mounted folder:
// the server (cadrio-devserver) in a child process, the real host (cadrio-fileproviderd, a
// child too) with the built plug-in, and the real application model here,
// its domain controller wrapped so that the moment of each signal is known.
// Needs root, /dev/fuse and a session bus with an unlocked Secret Service
// (run_app_latency_bench.sh sets that up).
//
//   app_latency_bench DEVSERVER FILEPROVIDERD
//
// CHANGES (50) renames of one file, one at a time, each once the previous
// one is visible; the old name is always looked up first, so the kernel
// holds its entry when the change comes. Prints the median and the 95th
// percentile of the whole and of each stage, and curl -N reading the same
// event stream beside the model's.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "app/domain/domain_controller.hpp"
#include "app/model/app_dependencies.hpp"
#include "app/model/app_model.hpp"
#include "app/model/loop_executor.hpp"
#include "app/model/pool_executor.hpp"
#include "core/events/drive_event_stream.hpp"
#include "core/events/event_stream_url.hpp"
#include "core/support/thread_annotations.hpp"
#include "tests/support/plugin_session.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using cadrio::Clock;
using Seconds = std::chrono::duration<double>;
constexpr auto kStepTimeout = std::chrono::seconds(30);
const std::string kAccount = cadrio::testing::kDemoAccount;

Clock& clock() { return cadrio::SystemClock::shared(); }

double seconds(Clock::Duration duration) { return Seconds(duration).count(); }

/// Moments something happened, in order, from any thread; waited for by index.
class Arrivals {
public:
    void add(Clock::TimePoint at) {
        {
            cadrio::LockGuard lock(mutex_);
            times_.push_back(at);
        }
        added_.notify_all();
    }
    std::size_t count() {
        cadrio::LockGuard lock(mutex_);
        return times_.size();
    }
    /// The moment of arrival number `index` (from 0); throws after kStepTimeout.
    Clock::TimePoint wait(std::size_t index, const char* what) {
        cadrio::UniqueLock lock(mutex_);
        const auto arrived = [&]() CADRIO_NO_THREAD_SAFETY_ANALYSIS { return times_.size() > index; };
        if (!added_.wait_for(lock, kStepTimeout, arrived)) {
            throw std::runtime_error(std::string("no ") + what + " in time");
        }
        return times_[index];
    }

private:
    cadrio::Mutex mutex_;
    std::condition_variable_any added_;
    std::vector<Clock::TimePoint> times_ CADRIO_GUARDED_BY(mutex_);
};

/// The real controller, telling `signals` when each signal the model sent
/// was taken by the host (with the moment the model called).
class TimedDomains final : public cadrio::app::DomainControlling {
public:
    TimedDomains(std::shared_ptr<DomainControlling> inner, Arrivals& signals)
        : inner_(std::move(inner)), signals_(signals) {}

    bool signal(const std::string& account, bool wait, Clock::Duration timeout) override {
        const auto called = clock().now();
        const bool taken = inner_->signal(account, wait, timeout);
        signals_.add(called);
        return taken;
    }
    bool isMounted(const std::string& a) override { return inner_->isMounted(a); }
    void mount(const std::string& a) override { inner_->mount(a); }
    void unmount(const std::string& a) override { inner_->unmount(a); }
    std::optional<bool> isUserEnabled(const std::string& a) override { return inner_->isUserEnabled(a); }
    fs::path userVisibleRoot(const std::string& a) override { return inner_->userVisibleRoot(a); }
    std::optional<std::string> transferLabel(const std::string& a) override { return inner_->transferLabel(a); }
    std::optional<bool> extensionEnabled() override { return inner_->extensionEnabled(); }
    void setUserEnabled(const std::string& account, bool enabled) override { inner_->setUserEnabled(account, enabled); }
    void setExtensionEnabled(bool enabled) override { inner_->setExtensionEnabled(enabled); }
    void onChangeRefused(std::function<void(const RefusedChange&)> handler) override {
        inner_->onChangeRefused(std::move(handler));
    }

private:
    std::shared_ptr<DomainControlling> inner_;
    Arrivals& signals_;
};

/// A child process; with `captured`, its standard output comes on output().
/// SIGTERM and a wait when destroyed.
class Child {
public:
    explicit Child(std::vector<std::string> argv, bool captured = false) {
        int fds[2] = {-1, -1};
        if (captured && ::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (captured) posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        std::vector<char*> args;
        for (std::string& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (captured) ::close(fds[1]);
        output_ = fds[0];
        if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    ~Child() {
        stop();
        if (output_ >= 0) ::close(output_);
    }
    /// Ends the child; its output stays open for what is left to read.
    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (pid_ > 0) ::waitpid(std::exchange(pid_, -1), nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    int output() const { return output_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

/// The first line the child writes.
std::string firstLine(const Child& child) {
    std::string line;
    char byte = 0;
    while (::read(child.output(), &byte, 1) == 1 && byte != '\n') line += byte;
    return line;
}

/// curl -N on the event stream; a thread notes when each change notice arrives.
class CurlStream {
public:
    CurlStream(const std::string& url, const std::string& token, const fs::path& config) {
        {
            // The token goes in a file of the run's own, not on a command line.
            std::ofstream out(config);
            fs::permissions(config, fs::perms::owner_read | fs::perms::owner_write);
            out << "url = \"" << url << "\"\nheader = \"Authorization: Bearer " << token << "\"\n";
        }
        child_ = std::make_unique<Child>(std::vector<std::string>{"curl", "-N", "-s", "-K", config.string()}, true);
        reader_ = std::thread([this] { read(); });
    }
    ~CurlStream() {
        child_->stop();  // the pipe's end stops the reader
        reader_.join();
    }
    Arrivals& notices() { return notices_; }

private:
    void read() {
        std::string pending;
        char buffer[4096];
        for (ssize_t got; (got = ::read(child_->output(), buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
            const auto at = clock().now();
            if (got < 0) continue;
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
                if (pending.compare(0, end, "event: drive.changed") == 0) notices_.add(at);
            }
        }
    }
    std::unique_ptr<Child> child_;
    Arrivals notices_;
    std::thread reader_;
};

bool hostOnBus() {
    sd_bus* bus = nullptr;
    int owned = 0;
    if (sd_bus_open_user(&bus) >= 0) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", "zelvano.cadrio.FileProviderHost") >= 0) {
            sd_bus_message_read(reply, "b", &owned);
        }
        sd_bus_message_unref(reply);
    }
    sd_bus_flush_close_unref(bus);
    return owned != 0;
}

/// Waits (in 1 ms steps) until `done` holds; throws after kStepTimeout.
template <typename Condition>
void waitUntil(Condition done, const std::string& what) {
    const auto deadline = clock().now() + kStepTimeout;
    while (!done()) {
        if (clock().now() > deadline) throw std::runtime_error(what + " did not happen in time");
        clock().sleepFor(std::chrono::milliseconds(1), {});
    }
}

bool looksUp(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

nlohmann::json admin(httplib::Client& http, const std::string& path, nlohmann::json body) {
    body["email"] = kAccount;
    const auto result = http.Post(path, body.dump(), "application/json");
    if (!result || result->status != 200) throw std::runtime_error("the server refused " + path);
    return nlohmann::json::parse(result->body, nullptr, false);
}

/// One change's moments, all on the same clock.
struct Change {
    Clock::TimePoint sent, answered, notice, curlNotice, signalled, stable, visible;
};

struct Stage {
    const char* name;
    Clock::Duration (*of)(const Change&);
    bool part = true;  // one of the stages the whole is made of
};

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values.at(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
}

void report(const std::vector<Change>& changes) {
    const Stage stages[] = {
        {"change -> visible (admin answer -> stat sees it)", [](const Change& c) { return c.visible - c.answered; }},
        {"  event delivery (-> our DriveEventStream)", [](const Change& c) { return c.notice - c.answered; }},
        {"  debounce (-> the model's signal)", [](const Change& c) { return c.signalled - c.notice; }},
        {"  enumeration (-> WaitForStabilization answers)", [](const Change& c) { return c.stable - c.signalled; }},
        {"  kernel invalidation (-> stat sees the new name)", [](const Change& c) { return c.visible - c.stable; }},
        {"event delivery, curl -N on the same URL", [](const Change& c) { return c.curlNotice - c.answered; }, false},
        {"admin call (sent -> answered)", [](const Change& c) { return c.answered - c.sent; }, false},
    };
    double whole = 0;
    for (const Change& change : changes) whole += seconds(change.visible - change.answered);
    std::printf("%-52s %8s %8s %7s\n", (std::to_string(changes.size()) + " changes, seconds").c_str(), "median",
                "p95", "share");
    for (const Stage& stage : stages) {
        std::vector<double> values;
        double sum = 0;
        for (const Change& change : changes) sum += values.emplace_back(seconds(stage.of(change)));
        std::printf("%-52s %8.4f %8.4f", stage.name, percentile(values, 0.5), percentile(values, 0.95));
        if (stage.part) std::printf(" %5.1f %%", 100.0 * sum / whole);
        std::printf("\n");
    }
}

/// Runs `query` on the model's executor and waits for its answer.
template <typename Query>
auto onExecutor(cadrio::app::SerialExecutor& executor, Query query) {
    auto answer = std::make_shared<std::promise<decltype(query())>>();
    executor.post([answer, query] { answer->set_value(query()); });
    return answer->get_future().get();
}

/// What each change is timed by.
struct Probes {
    httplib::Client& http;
    Arrivals& notices;
    Arrivals& curlNotices;
    Arrivals& signals;
    cadrio::app::DomainController& controller;
    fs::path root;
};

/// Looks `from` up (the kernel then holds its entry), renames `file` to `to`
/// on the server and times each stage until the folder shows `to`.
Change renameOnce(Probes& probes, const nlohmann::json& file, const std::string& from, const std::string& to) {
    if (!looksUp(probes.root / from)) throw std::runtime_error("the kernel does not know " + from);
    const std::size_t notices = probes.notices.count(), curl = probes.curlNotices.count();
    const std::size_t signals = probes.signals.count();
    Change change;
    change.sent = clock().now();
    admin(probes.http, "/_admin/drive/rename", {{"kind", "file"}, {"id", file}, {"name", to}});
    change.answered = clock().now();
    change.notice = probes.notices.wait(notices, "notice on the event stream");
    change.curlNotice = probes.curlNotices.wait(curl, "notice through curl");
    change.signalled = probes.signals.wait(signals, "signal");
    if (!probes.controller.waitForStabilization(kAccount, kStepTimeout)) throw std::runtime_error("not stable");
    change.stable = clock().now();
    waitUntil([&] { return looksUp(probes.root / to); }, "the rename to " + to);
    change.visible = clock().now();
    return change;
}

int run(const std::string& serverProgram, const std::string& daemon) {
    Child server({serverProgram, "--port", "0", "--seed", "demo"}, true);
    const std::string line = firstLine(server), banner = "listening on ";
    if (line.rfind(banner, 0) != 0) throw std::runtime_error("the server did not start");
    const std::string url = line.substr(banner.size());
    cadrio::testing::PluginSession session(url, kAccount, cadrio::testing::kDemoPassword);
    httplib::Client http(url);
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    auto name = [](std::size_t i) { return "latence-" + std::to_string(i) + ".txt"; };
    const auto file = admin(http, "/_admin/drive/files", {{"name", name(0)}, {"content", "déplacé"}}).at("id");

    Child host({daemon, "--foreground", "--mount-root", (session.scratch() / "Cadrio").string()});
    waitUntil(hostOnBus, "the host's start");
    const auto token = session.client()->currentAccessToken();
    if (!token) throw std::runtime_error("no access token");
    const std::string streamURL = cadrio::eventStreamURL(url, cadrio::app::AppModel::kPingSeconds);
    CurlStream curl(streamURL, *token, session.scratch() / "curl.conf");
    Arrivals notices, signals;
    const cadrio::DriveEventStream stream(session.client(), url, cadrio::app::AppModel::kPingSeconds);
    std::jthread streamThread([&](std::stop_token stop) {
        stream.run([&] { notices.add(clock().now()); }, [](const auto&) {}, stop);
    });

    cadrio::app::LoopExecutor executor(clock());
    cadrio::app::PoolExecutor background(4);
    auto dependencies = cadrio::app::makeAppDependencies(executor, background, {.manageLoginItem = false});
    const cadrio::log::Logger logger(dependencies.logger.subsystem(), "domain");
    auto controller = std::make_shared<cadrio::app::DomainController>(clock(), logger);
    dependencies.domains = std::make_shared<TimedDomains>(controller, signals);
    auto model = cadrio::app::AppModel::create(std::move(dependencies));
    std::jthread loop([&](std::stop_token stop) { executor.run(stop); });

    // The launch: the session restored, the domain mounted, the first signal.
    signals.wait(0, "first signal");
    if (!controller->waitForStabilization(kAccount, std::chrono::minutes(2))) throw std::runtime_error("not stable");
    Probes probes{http, notices, curl.notices(), signals, *controller, controller->userVisibleRoot(kAccount)};
    waitUntil([&] { return looksUp(probes.root / name(0)); }, "the first listing");

    const char* wanted = std::getenv("CHANGES");
    const auto count = static_cast<std::size_t>(std::max(1L, wanted != nullptr ? std::atol(wanted) : 50L));
    std::vector<Change> changes;
    // Change 0 warms every path (and proves both streams connected); it is not counted.
    for (std::size_t i = 0; i <= count; ++i) {
        waitUntil([&] { return !onExecutor(executor, [&] { return model->hasPendingSignal(); }); }, "a quiet model");
        const Change change = renameOnce(probes, file, name(i), name(i + 1));
        if (i > 0) changes.push_back(change);
    }
    report(changes);
    executor.stop();
    loop.join();
    model.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc != 3) {
        std::cerr << "usage: app_latency_bench DEVSERVER FILEPROVIDERD\n";
        return 2;
    }
    try {
        return run(argv[1], argv[2]);
    } catch (const std::exception& error) {
        std::cerr << "app_latency_bench: " << error.what() << "\n";
        return 1;
    }
}
