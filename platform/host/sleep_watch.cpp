#include "platform/host/sleep_watch.hpp"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {


constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

sd_bus* connectTo(const std::optional<std::string>& address) {
    sd_bus* bus = nullptr;
    int result = 0;
    if (!address) {
        result = sd_bus_open_system(&bus);
    } else {
        result = sd_bus_new(&bus);
        if (result >= 0) result = sd_bus_set_address(bus, address->c_str());
        if (result >= 0) result = sd_bus_set_bus_client(bus, 1);
        if (result >= 0) result = sd_bus_start(bus);
    }
    if (result >= 0) return bus;
    sd_bus_unref(bus);
    hostLogger().notice("Pas de bus système ({}) : la mise en veille n'est pas suivie", std::strerror(-result));
    return nullptr;
}

}  // namespace

struct SleepWatch::Loop {
    Handler handler;
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
    sd_bus_slot* match = nullptr;
    sd_event_source* stopSource = nullptr;
    int stopFd = -1;
    int inhibitor = -1;
    std::thread thread;

    void takeInhibitor() {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        int result = sd_bus_call_method(bus, kLogind, kLogindPath, kLogindManager, "Inhibit", &error, &reply,
                                        "ssss", "sleep", "Cadrio", "Envoi des modifications en cours", "delay");
        int fd = -1;
        if (result >= 0) result = sd_bus_message_read(reply, "h", &fd);
        if (result >= 0) inhibitor = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (result < 0 || inhibitor < 0) {
            hostLogger().notice("Verrou de mise en veille refusé : {}",
                            error.message != nullptr ? error.message : std::strerror(-result));
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }

    void releaseInhibitor() {
        if (inhibitor >= 0) ::close(inhibitor);
        inhibitor = -1;
    }

    static int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
        Loop& loop = *static_cast<Loop*>(userdata);
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) < 0) return 0;
        if (sleeping) {
            hostLogger().info("Mise en veille : envois suspendus");
        } else {
            hostLogger().info("Sortie de veille : envois repris");
        }
        try {
            loop.handler(sleeping != 0);
        } catch (const std::exception& e) {
            hostLogger().error("Mise en veille : {}", e.what());
        }
        if (sleeping) {
            loop.releaseInhibitor();
        } else if (loop.inhibitor < 0) {
            loop.takeInhibitor();
        }
        return 0;
    }

    static int onStop(sd_event_source*, int, std::uint32_t, void* userdata) {
        return sd_event_exit(static_cast<Loop*>(userdata)->event, 0);
    }

    bool start(const std::optional<std::string>& address) {
        bus = connectTo(address);
        if (bus == nullptr) return false;
        stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        int result = stopFd < 0 ? -errno : 0;
        if (result >= 0) result = sd_event_new(&event);
        if (result >= 0) result = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL);
        if (result >= 0) result = sd_event_add_io(event, &stopSource, stopFd, EPOLLIN, onStop, this);
        if (result >= 0)
            result = sd_bus_match_signal(bus, &match, kLogind, kLogindPath, kLogindManager, "PrepareForSleep",
                                         onPrepareForSleep, this);
        if (result < 0) {
            hostLogger().error("Suivi de la mise en veille impossible : {}", std::strerror(-result));
            return false;
        }
        // Taken before the loop starts: a sleep announced from now on finds
        // the match in place and the inhibitor held.
        takeInhibitor();
        thread = std::thread([this] { sd_event_loop(event); });
        return true;
    }

    ~Loop() {
        if (thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stopFd, &one, sizeof one);
            thread.join();
        }
        releaseInhibitor();
        sd_bus_slot_unref(match);
        sd_event_source_disable_unref(stopSource);
        if (bus != nullptr) sd_bus_detach_event(bus);
        sd_bus_flush_close_unref(bus);
        sd_event_unref(event);
        if (stopFd >= 0) ::close(stopFd);
    }
};

SleepWatch::SleepWatch(Handler handler, std::optional<std::string> busAddress) : loop_(std::make_unique<Loop>()) {
    loop_->handler = std::move(handler);
    if (!loop_->start(busAddress)) loop_.reset();
}

SleepWatch::~SleepWatch() = default;

bool SleepWatch::watching() const { return loop_ != nullptr; }

}  // namespace cadrio::host
