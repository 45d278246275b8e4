#pragma once
// For tests: logind as far as the sleep watches know it, on a private bus.
// Inhibit hands out the write end of a pipe whose read end the fake keeps;
// announce() emits PrepareForSleep from the name's owner. Header-only.

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/desktop/served_bus_testing.hpp"

namespace cadrio::desktop::testing {

class FakeLogind {
public:
    explicit FakeLogind(const std::string& address)
        : served_(address, [this](sd_bus* bus) {
              sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       kVtable, this);
              sd_bus_request_name(bus, "org.freedesktop.login1", 0);
          }) {}
    void announce(bool sleeping) {
        served_.post([sleeping](sd_bus* bus) {
            sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                               "b", static_cast<int>(sleeping));
        });
    }
    /// The read end of the next inhibitor handed out; waits for it.
    int nextInhibitor() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !handedOut_.empty(); });
        const int fd = handedOut_.front();
        handedOut_.pop_front();
        return fd;
    }

private:
    static int onInhibit(sd_bus_message* call, void* data, sd_bus_error*) {
        auto& self = *static_cast<FakeLogind*>(data);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return -errno;
        const int result = sd_bus_reply_method_return(call, "h", fds[1]);
        ::close(fds[1]);
        std::lock_guard lock(self.mutex_);
        self.held_.fds.push_back(fds[0]);
        self.handedOut_.push_back(fds[0]);
        self.changed_.notify_all();
        return result;
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Inhibit", "ssss", "h", onInhibit, 0),
        SD_BUS_SIGNAL("PrepareForSleep", "b", 0), SD_BUS_VTABLE_END};

    struct Held {
        std::vector<int> fds;
        ~Held() {
            for (const int fd : fds) ::close(fd);
        }
    };

    std::mutex mutex_;  // guards handedOut_ and held_
    std::condition_variable changed_;
    std::deque<int> handedOut_;
    Held held_;
    ServedBus served_;  // declared last: stops serving before the rest goes
};

}  // namespace cadrio::desktop::testing
