#include "platform/desktop/logind_sleep_signal.hpp"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "platform/desktop/system_bus.hpp"

namespace cadrio::desktop {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

}  // namespace

struct LogindSleepSignal::Loop {
    Handler handler;
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
    sd_bus_slot* match = nullptr;
    sd_event_source* stopSource = nullptr;
    int stopFd = -1;
    int error = 0;
    std::thread thread;

    static int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) < 0) return 0;
        try {
            static_cast<Loop*>(userdata)->handler(sleeping != 0);
        } catch (...) {
            // The handler promises not to throw; a throw must still not unwind through sd-bus.
        }
        return 0;
    }

    static int onStop(sd_event_source*, int, std::uint32_t, void* userdata) {
        return sd_event_exit(static_cast<Loop*>(userdata)->event, 0);
    }

    int subscribe() {
        stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd < 0) return -errno;
        int result = sd_event_new(&event);
        if (result >= 0) result = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL);
        if (result >= 0) result = sd_event_add_io(event, &stopSource, stopFd, EPOLLIN, onStop, this);
        if (result >= 0)
            result = sd_bus_match_signal(bus, &match, kLogind, kLogindPath, kLogindManager, "PrepareForSleep",
                                         onPrepareForSleep, this);
        return result < 0 ? result : 0;
    }

    ~Loop() {
        if (thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stopFd, &one, sizeof one);
            thread.join();
        }
        sd_bus_slot_unref(match);
        sd_event_source_disable_unref(stopSource);
        if (bus != nullptr && event != nullptr) sd_bus_detach_event(bus);
        sd_bus_flush_close_unref(bus);
        sd_event_unref(event);
        if (stopFd >= 0) ::close(stopFd);
    }
};

LogindSleepSignal::LogindSleepSignal(Handler handler, const std::optional<std::string>& busAddress)
    : loop_(std::make_unique<Loop>()) {
    loop_->handler = std::move(handler);
    loop_->error = openSystemBus(busAddress, &loop_->bus);
    if (loop_->error == 0) loop_->error = loop_->subscribe();
}

LogindSleepSignal::~LogindSleepSignal() = default;

bool LogindSleepSignal::busReached() const { return loop_->bus != nullptr; }

int LogindSleepSignal::error() const { return loop_->error; }

sd_bus* LogindSleepSignal::bus() const { return loop_->bus; }

void LogindSleepSignal::start() {
    if (!subscribed() || loop_->thread.joinable()) return;
    Loop* loop = loop_.get();
    loop_->thread = std::thread([loop] { sd_event_loop(loop->event); });
}

}  // namespace cadrio::desktop
