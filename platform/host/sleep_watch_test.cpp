#include "platform/host/sleep_watch.hpp"

#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/host/private_bus_testing.hpp"

namespace cadrio::host {
namespace {

/// logind as far as the watch knows it: Inhibit hands out the write end of
/// a pipe whose read end the test keeps, and announce() emits
/// PrepareForSleep from the name's owner, on the fake's own thread.
class FakeLogind {
public:
    explicit FakeLogind(const std::string& address) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        sd_bus_start(bus_);
        sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                 kVtable, this);
        sd_bus_request_name(bus_, "org.freedesktop.login1", 0);
        sd_event_new(&event_);
        sd_bus_attach_event(bus_, event_, 0);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        sd_event_add_io(event_, nullptr, wake_, EPOLLIN, onWake, this);
        thread_ = std::thread([this] { sd_event_loop(event_); });
    }
    ~FakeLogind() {
        post(-1);
        thread_.join();
        for (const int fd : held_) close(fd);
        sd_bus_flush_close_unref(bus_);
        sd_event_unref(event_);
        close(wake_);
    }
    void announce(bool sleeping) { post(sleeping ? 1 : 0); }
    /// The read end of the next inhibitor handed out.
    int nextInhibitor() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !handedOut_.empty(); });
        const int fd = handedOut_.front();
        handedOut_.pop_front();
        return fd;
    }

private:
    void post(int what) {
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(what);
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(wake_, &one, sizeof one);
    }
    static int onWake(sd_event_source*, int fd, std::uint32_t, void* data) {
        auto& self = *static_cast<FakeLogind*>(data);
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t got = read(fd, &count, sizeof count);
        std::deque<int> posted;
        {
            std::lock_guard lock(self.mutex_);
            posted.swap(self.posted_);
        }
        for (const int what : posted) {
            if (what < 0) return sd_event_exit(self.event_, 0);
            sd_bus_emit_signal(self.bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", what);
        }
        return 0;
    }
    static int onInhibit(sd_bus_message* call, void* data, sd_bus_error*) {
        auto& self = *static_cast<FakeLogind*>(data);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return -errno;
        const int result = sd_bus_reply_method_return(call, "h", fds[1]);
        close(fds[1]);
        std::lock_guard lock(self.mutex_);
        self.held_.push_back(fds[0]);
        self.handedOut_.push_back(fds[0]);
        self.changed_.notify_all();
        return result;
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Inhibit", "ssss", "h", onInhibit, 0),
        SD_BUS_SIGNAL("PrepareForSleep", "b", 0), SD_BUS_VTABLE_END};

    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    int wake_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> posted_, handedOut_;
    std::vector<int> held_;
};

bool released(int inhibitor) {
    char byte = 0;
    return read(inhibitor, &byte, 1) == 0;  // blocks until the last write end closes
}

TEST(SleepWatch, TheInhibitorIsLetGoOnlyOnceUploadsArePausedAndTakenAgainOnWaking) {
    testing::PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    FakeLogind logind(bus.address());
    std::mutex mutex;
    std::condition_variable called;
    std::vector<bool> calls;
    SleepWatch watch(
        [&](bool sleeping) {
            std::lock_guard lock(mutex);
            calls.push_back(sleeping);
            called.notify_all();
        },
        bus.address());
    ASSERT_TRUE(watch.watching());
    const int first = logind.nextInhibitor();

    logind.announce(true);
    EXPECT_TRUE(released(first));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(calls, std::vector<bool>{true});  // the handler ran before the release
    }
    logind.announce(false);
    logind.nextInhibitor();
    std::unique_lock lock(mutex);
    called.wait(lock, [&] { return calls.size() == 2; });
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST(SleepWatch, NoBusMeansNoWatchAndNoFailure) {
    const SleepWatch watch([](bool) {}, "unix:path=/nonexistent/bus");
    EXPECT_FALSE(watch.watching());
}

}  // namespace
}  // namespace cadrio::host
