#pragma once
// Keeps a domain's replica current by enumerating through its plug-in.
//
// - start(): with no stored anchor (first mount, rebuilt replica) the
//   working set is listed from scratch, slice by slice, one transaction per
//   slice, then the current anchor is stored; with an anchor, the changes
//   since it are asked for.
// - signal(): asks for the changes since the stored anchor. Signals that
//   arrive while an enumeration runs coalesce into one follow-up.
// - "sync anchor expired" (-1002) from a change enumeration lists the working
//   set again and drops what it no longer holds.
// - listFolder(): a folder the replica has not seen listed is enumerated on
//   demand; the caller waits at most until its deadline.
// Every change applied to the replica is handed to the NoticeSink, from the
// thread that applied it (never a FUSE request thread's own call stack
// unless that thread called listFolder; the sink only queues).
//
// A plug-in that throws, answers twice or never answers does not stop the
// engine: a second answer is ignored, an exception or a missing answer
// fails that enumeration (logged once), and the replica keeps what it had.
//
// Threads: every member may be called from any thread. Enumerations run on
// the engine's own fixed pool; the engine's mutex guards its queue and
// counters and is never held while calling the plug-in or the replica.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/support/clock.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/host/replica.hpp"

namespace cadrio::host {

class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    /// Queues notices for the kernel; must not block on the kernel. Called
    /// after every change applied to the replica, with nothing for the
    /// kernel too: the change may have queued a send (Replica::takeRequeued).
    virtual void post(std::vector<KernelNotice> notices) = 0;
};

class SyncEngine {
public:
    struct Options {
        /// How long an enumeration may stay unanswered before it fails.
        std::chrono::milliseconds enumerationTimeout{std::chrono::seconds(60)};
    };

    SyncEngine(fileprovider::ExtensionPtr extension, Replica& replica, NoticeSink& notices, Clock& clock,
               Options options);
    SyncEngine(fileprovider::ExtensionPtr extension, Replica& replica, NoticeSink& notices, Clock& clock)
        : SyncEngine(std::move(extension), replica, notices, clock, Options{}) {}
    /// Stops taking work and waits for the enumerations in flight.
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    void start();
    void signal();

    /// Lists `folder` when the replica has not seen it listed, or `again`
    /// in any case; waits until `deadline` on the engine's clock. Absent
    /// error: the replica holds the folder's children now.
    std::optional<fileprovider::Error> listFolder(Inode folder, Clock::TimePoint deadline, bool again = false);

    /// True when no enumeration runs or waits.
    bool isIdle() const;
    /// True when the last run of the working set (a full listing, or the
    /// changes since the anchor) ended with all the drive had; false while
    /// none has ended, or when the last one failed part way.
    bool workingSetCurrent() const;
    /// Calls `done` once, from any thread, when the engine is next idle (at
    /// once when it is idle now).
    void whenIdle(std::function<void()> done);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cadrio::host
