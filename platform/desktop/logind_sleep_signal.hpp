#pragma once
// logind's PrepareForSleep announcements (true: about to sleep, false: awake
// again), received on a connection and a thread of their own. Both the
// application (to catch up after a wake) and the host (to pause its sends)
// listen to it; each adds its own reaction.
//
// Two steps, so that a caller can use the connection before anything is
// delivered (the host takes an inhibitor there): the constructor connects
// and subscribes; start() begins delivering, announcements made in between
// included. Without a bus, or when subscribing fails, nothing is delivered
// and start() does nothing; the caller says so in its own words.
//
// Threads: construct, start and destroy from one thread. The handler runs
// on the signal's own thread, one call at a time; the destructor stops and
// joins that thread, so no call happens afterwards. The handler must not
// throw and must not destroy this object.

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cadrio::desktop {

class LogindSleepSignal {
public:
    using Handler = std::function<void(bool sleeping)>;

    /// `busAddress`: the system bus unless given (tests).
    LogindSleepSignal(Handler handler, const std::optional<std::string>& busAddress);
    ~LogindSleepSignal();
    LogindSleepSignal(const LogindSleepSignal&) = delete;
    LogindSleepSignal& operator=(const LogindSleepSignal&) = delete;

    /// Whether a bus answered at all.
    bool busReached() const;
    /// 0 once subscribed; else the negative errno of the step that failed.
    int error() const;
    bool subscribed() const { return error() == 0; }

    /// Begins delivering; at most once, and only when subscribed.
    void start();

    /// The connection (null without a bus), for calls made before start() or
    /// from within the handler, never from another thread once started.
    sd_bus* bus() const;

private:
    struct Loop;
    const std::unique_ptr<Loop> loop_;
};

}  // namespace cadrio::desktop
