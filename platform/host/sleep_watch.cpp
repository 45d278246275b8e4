#include "platform/host/sleep_watch.hpp"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <exception>

#include "platform/desktop/logind_sleep_signal.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

}  // namespace

// The inhibitor is touched only before the signal starts and then on the
// signal's thread, which the signal's destruction joins: it needs no lock.
struct SleepWatch::Loop {
    Handler handler;
    int inhibitor = -1;
    std::unique_ptr<desktop::LogindSleepSignal> signal;  // declared last: stopped first

    void takeInhibitor() {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        int result = sd_bus_call_method(signal->bus(), kLogind, kLogindPath, kLogindManager, "Inhibit", &error,
                                        &reply, "ssss", "sleep", "Cadrio", "Envoi des modifications en cours",
                                        "delay");
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

    void announced(bool sleeping) {
        if (sleeping) {
            hostLogger().info("Mise en veille : envois suspendus");
        } else {
            hostLogger().info("Sortie de veille : envois repris");
        }
        try {
            handler(sleeping);
        } catch (const std::exception& e) {
            hostLogger().error("Mise en veille : {}", e.what());
        }
        if (sleeping) {
            releaseInhibitor();
        } else if (inhibitor < 0) {
            takeInhibitor();
        }
    }

    bool start(const std::optional<std::string>& address) {
        signal = std::make_unique<desktop::LogindSleepSignal>([this](bool sleeping) { announced(sleeping); },
                                                              address);
        if (!signal->busReached()) {
            hostLogger().notice("Pas de bus système ({}) : la mise en veille n'est pas suivie",
                                std::strerror(-signal->error()));
            return false;
        }
        if (!signal->subscribed()) {
            hostLogger().error("Suivi de la mise en veille impossible : {}", std::strerror(-signal->error()));
            return false;
        }
        // Taken before delivery starts: a sleep announced from now on finds
        // the inhibitor held.
        takeInhibitor();
        signal->start();
        return true;
    }

    ~Loop() {
        signal.reset();
        releaseInhibitor();
    }
};

SleepWatch::SleepWatch(Handler handler, std::optional<std::string> busAddress) : loop_(std::make_unique<Loop>()) {
    loop_->handler = std::move(handler);
    if (!loop_->start(busAddress)) loop_.reset();
}

SleepWatch::~SleepWatch() = default;

bool SleepWatch::watching() const { return loop_ != nullptr; }

}  // namespace cadrio::host
