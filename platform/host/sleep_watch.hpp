#pragma once
// Keeps sleep from cutting a send in half, without ever holding it up:
// while the machine is awake the host holds a logind "delay" inhibitor
// (logind waits for it, a few seconds at most, before sleeping). When
// logind announces PrepareForSleep(true), the handler pauses the uploads
// (the sends in flight end or are cancelled; their changes stay queued) and
// the inhibitor is let go, so the machine sleeps at once. On
// PrepareForSleep(false) the handler resumes them and a new inhibitor is
// taken.
//
// Without a system bus (a container, a minimal session) the watch says so
// once in the log and does nothing else.
//
// Threads: one thread of its own serves the system bus and calls the
// handler; the destructor stops and joins it. The handler must not call
// back into the watch.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cadrio::host {

class SleepWatch {
public:
    using Handler = std::function<void(bool sleeping)>;

    /// `busAddress`: the system bus unless given (tests).
    explicit SleepWatch(Handler handler, std::optional<std::string> busAddress = std::nullopt);
    ~SleepWatch();
    SleepWatch(const SleepWatch&) = delete;
    SleepWatch& operator=(const SleepWatch&) = delete;

    /// False when no system bus could be reached.
    bool watching() const;

private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};

}  // namespace cadrio::host
