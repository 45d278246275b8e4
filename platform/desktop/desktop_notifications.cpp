#include "platform/desktop/desktop_notifications.hpp"

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <thread>

#include "core/support/thread_annotations.hpp"
#include "platform/desktop/system_bus.hpp"

namespace cadrio::desktop {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;

int openSessionBus(const std::optional<std::string>& address, sd_bus** bus) {
    if (address) return openSystemBus(address, bus);  // a bus of the caller's choosing
    *bus = nullptr;
    const int result = sd_bus_open_user(bus);
    return result < 0 ? result : 0;
}

}  // namespace

// mutex guards waiting and stopping; the bus belongs to the thread alone.
struct DesktopNotifications::Sender {
    Sender(log::Logger logger, std::optional<std::string> address)
        : logger(std::move(logger)), address(std::move(address)) {}

    const log::Logger logger;
    const std::optional<std::string> address;
    Mutex mutex;
    std::condition_variable_any wake;
    std::deque<Notification> waiting CADRIO_GUARDED_BY(mutex);
    bool stopping CADRIO_GUARDED_BY(mutex) = false;
    sd_bus* bus = nullptr;
    bool failureSaid = false;
    std::thread thread;

    void run() {
        const int opened = openSessionBus(address, &bus);
        if (opened < 0) sayFailure(std::string("pas de bus de session (") + std::strerror(-opened) + ")");
        while (std::optional<Notification> next = take()) {
            if (bus != nullptr) send(*next);
        }
        sd_bus_flush_close_unref(bus);
    }

    /// The next notification; none once stopping with nothing left.
    std::optional<Notification> take() {
        UniqueLock lock(mutex);
        while (waiting.empty() && !stopping) wake.wait(lock);
        if (waiting.empty()) return std::nullopt;
        Notification next = std::move(waiting.front());
        waiting.pop_front();
        return next;
    }

    void send(const Notification& notification) {
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error error{};
        int result = sd_bus_message_new_method_call(bus, &call, kService, kPath, kService, "Notify");
        if (result >= 0) {
            result = sd_bus_message_append(call, "susssasa{sv}i", kApplicationName, 0u, "",
                                           notification.title.c_str(), notification.body.c_str(), 0, 1,
                                           "desktop-entry", "s", "zelvano-cadrio", -1);
        }
        if (result >= 0) result = sd_bus_call(bus, call, kCallTimeoutMicroseconds, &error, &reply);
        if (result < 0) {
            sayFailure(sd_bus_error_is_set(&error) ? std::string(error.name) : std::string(std::strerror(-result)));
        }
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(call);
    }

    void sayFailure(const std::string& why) {
        if (failureSaid) return;
        failureSaid = true;
        logger.notice("Notifications du bureau indisponibles : {}", why);
    }
};

DesktopNotifications::DesktopNotifications(log::Logger logger, std::optional<std::string> busAddress)
    : sender_(std::make_unique<Sender>(std::move(logger), std::move(busAddress))) {
    sender_->thread = std::thread([sender = sender_.get()] { sender->run(); });
}

DesktopNotifications::~DesktopNotifications() {
    {
        LockGuard lock(sender_->mutex);
        sender_->stopping = true;
    }
    sender_->wake.notify_all();
    sender_->thread.join();
}

void DesktopNotifications::post(Notification notification) {
    {
        LockGuard lock(sender_->mutex);
        if (sender_->waiting.size() >= kMaxWaiting) return;
        sender_->waiting.push_back(std::move(notification));
    }
    sender_->wake.notify_all();
}

}  // namespace cadrio::desktop
