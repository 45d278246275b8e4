#pragma once

// One sd-bus connection and the thread that owns it. sd-bus objects are
// single-threaded, so every use of the connection is a job run by that
// thread; other threads post jobs (waking it through an eventfd that its
// event loop watches) and, for calls, block on the answer with no lock held.
//
// A job is handed a null bus when the connection is gone (closed, or lost
// with the bus daemon): it must then answer its caller with a failure.
//
// Threads: every member may be called from any thread but the bus thread
// itself (a job that calls run() or call() would wait for itself).
// mutex_ guards jobs_, stopping_ and closed_.

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/support/thread_annotations.hpp"

namespace cadrio::app {

/// A call that failed: the D-Bus error name (empty when the call could not
/// even be sent) and its message.
class BusCallError : public std::runtime_error {
public:
    BusCallError(std::string name, const std::string& message) : std::runtime_error(message), name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

struct BusCall {
    const char* destination;
    const char* path;
    const char* interface;
    const char* member;
    /// Sent in order: strings as "s", numbers as "u", flags as "b".
    std::vector<std::variant<std::string, std::uint32_t, bool>> arguments;
    /// How long the bus waits for the answer before it gives up.
    std::chrono::microseconds timeout;
};

class HostBus {
public:
    using Job = std::function<void(sd_bus* bus)>;
    /// Runs on the bus thread, exactly once: with the reply, or with null
    /// and the error.
    using Done = std::function<void(sd_bus_message* reply, const sd_bus_error* error)>;

    /// Connects to the session bus, or to `address`. Throws BusCallError.
    explicit HostBus(const std::optional<std::string>& address);
    /// Stops the thread and closes the connection; calls still in flight
    /// are dropped.
    ~HostBus();
    HostBus(const HostBus&) = delete;
    HostBus& operator=(const HostBus&) = delete;

    void post(Job job) CADRIO_EXCLUDES(mutex_);
    /// Runs `job` on the bus thread and waits until it ran.
    void run(Job job) CADRIO_EXCLUDES(mutex_);

    void callAsync(BusCall call, Done done) CADRIO_EXCLUDES(mutex_);

    /// Calls and waits; `read` takes the reply apart on the bus thread.
    /// Throws BusCallError, or what `read` throws.
    template <class Result>
    Result call(BusCall call, std::function<Result(sd_bus_message*)> read) {
        auto answer = std::make_shared<std::promise<Result>>();
        std::future<Result> result = answer->get_future();
        callAsync(std::move(call), [answer, read = std::move(read)](sd_bus_message* reply, const sd_bus_error* error) {
            try {
                if (reply == nullptr) throw errorOf(error);
                answer->set_value(read(reply));
            } catch (...) {
                answer->set_exception(std::current_exception());
            }
        });
        try {
            return result.get();
        } catch (const std::future_error&) {
            throw BusCallError("", "la connexion au bus a été fermée");
        }
    }

    /// sd-bus's error as an exception.
    static BusCallError errorOf(const sd_bus_error* error);

private:
    static int onWake(sd_event_source*, int, std::uint32_t, void* self);
    void serve();
    void takeJobs(sd_bus* bus) CADRIO_EXCLUDES(mutex_);
    void wake() const noexcept;

    // The bus thread's once it started; it closes them when it ends.
    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    sd_event_source* wakeSource_ = nullptr;
    int wakeFd_ = -1;
    Mutex mutex_;
    std::vector<Job> jobs_ CADRIO_GUARDED_BY(mutex_);
    bool stopping_ CADRIO_GUARDED_BY(mutex_) = false;
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
    std::thread thread_;
};

}  // namespace cadrio::app
