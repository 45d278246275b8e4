#pragma once

// Tells when the computer woke up: logind's PrepareForSleep(false) on the
// system bus. Without a system bus (a container, a minimal session) there
// are no wake signals, said once in the log, and nothing else happens.
//
// Threads: one thread of its own serves the bus and calls `onWake`; the
// destructor stops and joins it, so `onWake` is not called afterwards. The
// handler must not destroy the watch.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/log/logger.hpp"

namespace cadrio::desktop {

class WakeWatch {
public:
    /// `busAddress`: the system bus unless given (tests).
    WakeWatch(std::function<void()> onWake, log::Logger logger,
              std::optional<std::string> busAddress = std::nullopt);
    ~WakeWatch();
    WakeWatch(const WakeWatch&) = delete;
    WakeWatch& operator=(const WakeWatch&) = delete;

    bool watching() const;

private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};

}  // namespace cadrio::desktop
