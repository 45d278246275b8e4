#pragma once
// SIGTERM and SIGINT as events rather than handlers: the constructor blocks
// them in the calling thread, which must be the main thread before any other
// thread starts (threads inherit the mask, so no thread ever runs a
// handler), and a watcher thread reads them from a signalfd. The first
// signal calls `onSignal` once, on the watcher thread; later ones are only
// logged. Nothing polls: the watcher sleeps in poll(2) until a signal or
// the destructor wakes it.
//
// Signals are logged through the logger given.
//
// Threads: construct and destroy on the main thread.

#include <functional>
#include <thread>

#include "platform/log/logger.hpp"

namespace cadrio::desktop {

class TerminationSignals {
public:
    /// Blocks the signals; throws std::system_error when the signalfd
    /// cannot be made.
    explicit TerminationSignals(log::Logger logger);
    /// Stops the watcher; the signals stay blocked.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    /// Starts watching; call once.
    void start(std::function<void(int signal)> onSignal);

private:
    void watch(std::function<void(int)> onSignal) const;

    const log::Logger logger_;
    int signalFd_ = -1;
    int wakeFd_ = -1;  // an eventfd the destructor writes to
    std::thread watcher_;
};

}  // namespace cadrio::desktop
