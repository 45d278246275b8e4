#include "app/domain/host_starter.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stop_token>
#include <utility>
#include <vector>

extern char** environ;

namespace cadrio::app {
namespace {

constexpr const char* kBusDaemon = "org.freedesktop.DBus";
constexpr const char* kBusDaemonPath = "/org/freedesktop/DBus";

BusCall busDaemonCall(const char* member, decltype(BusCall::arguments) arguments,
                      Clock::Duration timeout) {
    return BusCall{kBusDaemon, kBusDaemonPath, kBusDaemon, member, std::move(arguments),
                   std::chrono::duration_cast<std::chrono::microseconds>(timeout)};
}

/// This process's environment, with the bus address given when there is one.
std::vector<std::string> childEnvironment(const std::optional<std::string>& busAddress) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (busAddress && std::strncmp(*variable, "DBUS_SESSION_BUS_ADDRESS=", 25) == 0) continue;
        variables.emplace_back(*variable);
    }
    if (busAddress) variables.push_back("DBUS_SESSION_BUS_ADDRESS=" + *busAddress);
    return variables;
}

/// Spawns `program` in a session of its own with its standard streams on
/// /dev/null; the pid, or the errno value as a negative number.
pid_t spawnDetached(const std::filesystem::path& program, const std::optional<std::string>& busAddress) {
    std::vector<std::string> variables = childEnvironment(busAddress);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -result;
}

}  // namespace

/// What ends the wait for the host: its name taken, or the spawned daemon gone.
struct HostStarter::Race {
    std::stop_source wake;
    std::atomic<bool> appeared{false};
    std::atomic<bool> exited{false};
};

namespace {

/// Watches a spawned daemon through a pidfd and reaps it when it ends, also
/// long after the start (the event loop owns the watch).
struct ChildWatch {
    pid_t pid;
    int pidfd;
    std::weak_ptr<HostStarter::Race> race;
};

int onChildExit(sd_event_source* source, int, std::uint32_t, void* userdata) {
    auto& watch = *static_cast<ChildWatch*>(userdata);
    ::waitpid(watch.pid, nullptr, WNOHANG);
    if (const auto race = watch.race.lock()) {
        race->exited = true;
        race->wake.request_stop();
    }
    // Out of the loop's poll set, the pidfd can go at once; the small rest
    // is freed with the loop.
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
    ::close(std::exchange(watch.pidfd, -1));
    return 0;
}

void freeChildWatch(void* userdata) {
    auto* watch = static_cast<ChildWatch*>(userdata);
    if (watch->pidfd >= 0) ::close(watch->pidfd);
    delete watch;
}

int onNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (newOwner != nullptr && *newOwner != '\0') {
        auto& race = *static_cast<HostStarter::Race*>(userdata);
        race.appeared = true;
        race.wake.request_stop();
    }
    return 0;
}

}  // namespace

HostStarter::HostStarter(HostBus& bus, Clock& clock, const log::Logger& logger, HostStartSettings settings)
    : bus_(bus), clock_(clock), logger_(logger), settings_(std::move(settings)) {}

bool HostStarter::start() {
    std::shared_future<bool> shared;
    std::optional<std::promise<bool>> mine;
    {
        LockGuard lock(mutex_);
        if (!attempt_) {
            mine.emplace();
            attempt_ = mine->get_future().share();
        }
        shared = *attempt_;
    }
    if (!mine) return shared.get();
    bool started = false;
    try {
        started = attempt();
    } catch (const std::exception& e) {
        logger_.error("Démarrage du service de fichiers impossible : {}", std::string(e.what()));
    }
    {
        LockGuard lock(mutex_);
        attempt_.reset();
    }
    mine->set_value(started);
    return started;
}

bool HostStarter::attempt() {
    const Clock::TimePoint deadline = clock_.now() + settings_.timeout;
    auto race = std::make_shared<Race>();
    sd_bus_slot* match = nullptr;
    const std::string rule = std::string("type='signal',sender='") + kBusDaemon + "',path='" + kBusDaemonPath +
                             "',interface='" + kBusDaemon + "',member='NameOwnerChanged',arg0='" +
                             settings_.busName + "'";
    // In place before the owner is asked for, so that no arrival is missed.
    bus_.run([&](sd_bus* bus) {
        if (bus != nullptr) sd_bus_add_match(bus, &match, rule.c_str(), onNameOwnerChanged, race.get());
    });
    struct MatchRelease {
        HostBus& bus;
        sd_bus_slot*& slot;
        std::shared_ptr<Race> race;
        ~MatchRelease() {
            bus.post([slot = slot, race = race](sd_bus*) { sd_bus_slot_unref(slot); });
        }
    } release{bus_, match, race};

    if (hasOwner() || activate()) return true;
    if (!spawnDaemon(race)) return false;
    clock_.sleepUntil(deadline, race->wake.get_token());
    // Asked once more in case the watch for the name could not be set.
    if (race->appeared || hasOwner()) return true;
    if (race->exited) {
        logger_.error("Le service de fichiers {} s'est arrêté au démarrage", settings_.daemonPath.string());
    } else {
        logger_.error("Le service de fichiers {} n'a pas pris son nom sur le bus dans le délai",
                      settings_.daemonPath.string());
    }
    return false;
}

bool HostStarter::hasOwner() {
    try {
        return bus_.call<bool>(busDaemonCall("NameHasOwner", {std::string(settings_.busName)}, settings_.timeout),
                               [](sd_bus_message* reply) {
                                   int owned = 0;
                                   return sd_bus_message_read(reply, "b", &owned) >= 0 && owned != 0;
                               });
    } catch (const BusCallError&) {
        return false;
    }
}

bool HostStarter::activate() {
    try {
        bus_.call<bool>(busDaemonCall("StartServiceByName", {std::string(settings_.busName), std::uint32_t{0}},
                                      settings_.timeout),
                        [](sd_bus_message*) { return true; });
        return true;
    } catch (const BusCallError& e) {
        logger_.info("Activation du service de fichiers par le bus impossible : {}", std::string(e.what()));
        return false;
    }
}

bool HostStarter::spawnDaemon(const std::shared_ptr<Race>& race) {
    const pid_t pid = spawnDetached(settings_.daemonPath, settings_.busAddress);
    if (pid < 0) {
        logger_.error("Lancement de {} impossible : {}", settings_.daemonPath.string(), std::string(std::strerror(-pid)));
        return false;
    }
    logger_.notice("Service de fichiers lancé : {}", settings_.daemonPath.string());
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return true;  // without a pidfd only the time-out ends a failed start
    auto* watch = new ChildWatch{pid, pidfd, race};
    bus_.run([watch](sd_bus* bus) {
        sd_event_source* source = nullptr;
        if (bus == nullptr ||
            sd_event_add_io(sd_bus_get_event(bus), &source, watch->pidfd, EPOLLIN, onChildExit, watch) < 0) {
            freeChildWatch(watch);
            return;
        }
        sd_event_source_set_destroy_callback(source, freeChildWatch);
        sd_event_source_set_floating(source, 1);
        sd_event_source_unref(source);
    });
    return true;
}

}  // namespace cadrio::app
