#pragma once
// For tests: a connection to a private bus served by a thread of its own,
// so that a fake service answers while the test's thread waits on a call.
// Header-only; never linked into the programs.

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace cadrio::desktop::testing {

class ServedBus {
public:
    using Action = std::function<void(sd_bus*)>;

    /// `setup` runs on the caller's thread before serving starts (object
    /// vtables, names).
    ServedBus(const std::string& address, const Action& setup) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        sd_bus_start(bus_);
        setup(bus_);
        sd_event_new(&event_);
        sd_bus_attach_event(bus_, event_, 0);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        sd_event_add_io(event_, nullptr, wake_, EPOLLIN, onWake, this);
        thread_ = std::thread([this] { sd_event_loop(event_); });
    }
    ~ServedBus() {
        post({});
        thread_.join();
        sd_bus_flush_close_unref(bus_);
        sd_event_unref(event_);
        ::close(wake_);
    }
    ServedBus(const ServedBus&) = delete;
    ServedBus& operator=(const ServedBus&) = delete;

    /// Runs `action` on the serving thread, in the order posted.
    void post(Action action) {
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(std::move(action));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }

private:
    static int onWake(sd_event_source*, int fd, std::uint32_t, void* data) {
        auto& self = *static_cast<ServedBus*>(data);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
        std::deque<Action> posted;
        {
            std::lock_guard lock(self.mutex_);
            posted.swap(self.posted_);
        }
        for (const Action& action : posted) {
            if (!action) return sd_event_exit(self.event_, 0);
            action(self.bus_);
        }
        return 0;
    }

    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    int wake_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::deque<Action> posted_;
};

}  // namespace cadrio::desktop::testing
