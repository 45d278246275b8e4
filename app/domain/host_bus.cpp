#include "app/domain/host_bus.hpp"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cadrio::app {
namespace {

[[noreturn]] void fail(const std::string& what, int result) {
    throw BusCallError("", what + " : " + std::strerror(-result));
}

sd_bus* connect(const std::optional<std::string>& address) {
    sd_bus* bus = nullptr;
    int result = 0;
    if (!address) {
        result = sd_bus_open_user(&bus);
    } else {
        result = sd_bus_new(&bus);
        if (result >= 0) result = sd_bus_set_address(bus, address->c_str());
        if (result >= 0) result = sd_bus_set_bus_client(bus, 1);
        if (result >= 0) result = sd_bus_start(bus);
    }
    if (result < 0) {
        sd_bus_unref(bus);
        fail("bus de session injoignable", result);
    }
    return bus;
}

/// The caller's completion, owned by the call's slot: freed with it, also
/// when the connection closes before an answer.
struct PendingCall {
    HostBus::Done done;
};

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    PendingCall& pending = *static_cast<PendingCall*>(userdata);
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    HostBus::Done done = std::move(pending.done);
    if (error != nullptr) {
        done(nullptr, error);
    } else {
        done(reply, nullptr);
    }
    return 0;
}

void freePending(void* userdata) { delete static_cast<PendingCall*>(userdata); }

/// Sends `call` on `bus`; the error of a message that could not be sent.
int send(sd_bus* bus, const BusCall& call, HostBus::Done& done) {
    sd_bus_message* message = nullptr;
    int result = sd_bus_message_new_method_call(bus, &message, call.destination, call.path, call.interface, call.member);
    for (const auto& argument : call.arguments) {
        if (result < 0) break;
        if (const auto* text = std::get_if<std::string>(&argument)) {
            result = sd_bus_message_append_basic(message, 's', text->c_str());
        } else if (const auto* number = std::get_if<std::uint32_t>(&argument)) {
            result = sd_bus_message_append_basic(message, 'u', number);
        } else {
            const int flag = std::get<bool>(argument) ? 1 : 0;
            result = sd_bus_message_append_basic(message, 'b', &flag);
        }
    }
    sd_bus_slot* slot = nullptr;
    auto* pending = new PendingCall{std::move(done)};
    if (result >= 0) result = sd_bus_call_async(bus, &slot, message, onReply, pending, static_cast<std::uint64_t>(call.timeout.count()));
    sd_bus_message_unref(message);
    if (result < 0) {
        done = std::move(pending->done);
        delete pending;
        return result;
    }
    sd_bus_slot_set_destroy_callback(slot, freePending);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
    return 0;
}

}  // namespace

HostBus::HostBus(const std::optional<std::string>& address) : bus_(connect(address)) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int result = wakeFd_ < 0 ? -errno : sd_event_new(&event_);
    if (result >= 0) result = sd_bus_attach_event(bus_, event_, SD_EVENT_PRIORITY_NORMAL);
    if (result >= 0) result = sd_event_add_io(event_, &wakeSource_, wakeFd_, EPOLLIN, onWake, this);
    if (result >= 0) result = sd_bus_set_exit_on_disconnect(bus_, 1);
    if (result < 0) {
        sd_event_source_unref(wakeSource_);
        sd_bus_flush_close_unref(bus_);
        sd_event_unref(event_);
        if (wakeFd_ >= 0) ::close(wakeFd_);
        fail("boucle du bus impossible", result);
    }
    thread_ = std::thread([this] { serve(); });
}

HostBus::~HostBus() {
    {
        LockGuard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    ::close(wakeFd_);
}

void HostBus::wake() const noexcept {
    const std::uint64_t one = 1;
    // Only a counter at its maximum refuses, and then a wake-up is pending.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void HostBus::post(Job job) {
    {
        LockGuard lock(mutex_);
        if (!closed_) {
            jobs_.push_back(std::move(job));
            job = nullptr;
        }
    }
    if (job) {
        job(nullptr);
    } else {
        wake();
    }
}

void HostBus::run(Job job) {
    std::promise<void> ran;
    std::future<void> done = ran.get_future();
    post([&job, &ran](sd_bus* bus) {
        job(bus);
        ran.set_value();
    });
    done.get();
}

void HostBus::callAsync(BusCall call, Done done) {
    post([call = std::move(call), done = std::move(done)](sd_bus* bus) mutable {
        if (bus == nullptr) {
            const sd_bus_error gone{SD_BUS_ERROR_DISCONNECTED, "la connexion au bus a été fermée", 0};
            done(nullptr, &gone);
            return;
        }
        if (const int result = send(bus, call, done); result < 0) {
            sd_bus_error error{};
            sd_bus_error_set_errno(&error, result);
            done(nullptr, &error);
            sd_bus_error_free(&error);
        }
    });
}

BusCallError HostBus::errorOf(const sd_bus_error* error) {
    if (error == nullptr) return BusCallError("", "erreur inconnue du bus");
    std::string message = error->message != nullptr ? error->message : "";
    if (message.empty() && error->name != nullptr) message = error->name;
    return BusCallError(error->name != nullptr ? error->name : "", message);
}

int HostBus::onWake(sd_event_source*, int, std::uint32_t, void* self) {
    auto& host = *static_cast<HostBus*>(self);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(host.wakeFd_, &count, sizeof count);
    host.takeJobs(host.bus_);
    bool stopping = false;
    {
        LockGuard lock(host.mutex_);
        stopping = host.stopping_;
    }
    if (stopping) sd_event_exit(host.event_, 0);
    return 0;
}

void HostBus::takeJobs(sd_bus* bus) {
    std::vector<Job> jobs;
    {
        LockGuard lock(mutex_);
        jobs.swap(jobs_);
    }
    for (Job& job : jobs) job(bus);
}

void HostBus::serve() {
    sd_event_loop(event_);
    {
        LockGuard lock(mutex_);
        closed_ = true;
    }
    takeJobs(nullptr);
    sd_event_source_disable_unref(wakeSource_);
    sd_bus_detach_event(bus_);
    sd_bus_flush_close_unref(bus_);
    sd_event_unref(event_);
}

}  // namespace cadrio::app
