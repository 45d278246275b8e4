#include "platform/desktop/termination_signals.hpp"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace cadrio::desktop {
namespace {

[[noreturn]] void throwLastError(const char* what) {
    const int error = errno;
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

TerminationSignals::TerminationSignals(log::Logger logger) : logger_(std::move(logger)) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &signals, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot block SIGTERM and SIGINT");
    }
    signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd_ < 0) throwLastError("cannot create a signalfd");
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(signalFd_);
        throwLastError("cannot create an eventfd");
    }
}

TerminationSignals::~TerminationSignals() {
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
        watcher_.join();
    }
    ::close(wakeFd_);
    ::close(signalFd_);
}

void TerminationSignals::start(std::function<void(int)> onSignal) {
    watcher_ = std::thread([this, onSignal = std::move(onSignal)]() mutable { watch(std::move(onSignal)); });
}

void TerminationSignals::watch(std::function<void(int)> onSignal) const {
    bool signalled = false;
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            logger_.fault("Attente des signaux impossible (errno {})", errno);
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) return;
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
        const int number = static_cast<int>(info.ssi_signo);
        logger_.notice("Signal {} reçu", number);
        if (!signalled) {
            signalled = true;
            onSignal(number);
        }
    }
}

}  // namespace cadrio::desktop
