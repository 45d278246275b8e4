#pragma once
// Tells the kernel what changed in the replica, from a thread of its own.
//
// The FUSE layer answers with long entry and attribute time-outs, which is
// sound only because every change is invalidated at once. The kernel
// notifications themselves may block until requests on the same folder are
// answered, so they must never be sent from a request handler (that is
// libfuse's documented deadlock): post() only queues, and the worker sends.
//
// Before a target is set, and after it is cleared, notices are dropped: the
// kernel holds nothing of a file system that is not mounted.
//
// Threads: every member may be called from any thread except setTarget and
// the destructor, which must not be called from the target itself.
// queueMutex_ guards the queue and the stop flag; targetMutex_ guards the
// target and is held for the whole of each send, so that setTarget returns
// only once no send to the old target runs. The two are never held
// together.

#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>
#include <variant>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/host/sync_engine.hpp"

namespace cadrio::host {

class KernelNotifier final : public NoticeSink {
public:
    /// Sends one notice to the kernel; must not throw.
    using Target = std::function<void(const KernelNotice&)>;

    KernelNotifier();
    /// Drops what is still queued (callbacks of whenDelivered included are
    /// called) and joins the worker.
    ~KernelNotifier() override;
    KernelNotifier(const KernelNotifier&) = delete;
    KernelNotifier& operator=(const KernelNotifier&) = delete;

    void post(std::vector<KernelNotice> notices) override;

    /// Replaces the target (empty: drop notices from now on); returns once
    /// no send to the previous target is running.
    void setTarget(Target target);

    /// Calls `done` on the worker once every notice posted before this call
    /// has been sent (or dropped).
    void whenDelivered(std::function<void()> done);

private:
    using Work = std::variant<KernelNotice, std::function<void()>>;

    void serve();
    void deliver(const KernelNotice& notice) CADRIO_EXCLUDES(targetMutex_);

    Mutex queueMutex_;
    std::condition_variable_any queueChanged_;
    std::deque<Work> queue_ CADRIO_GUARDED_BY(queueMutex_);
    bool stopping_ CADRIO_GUARDED_BY(queueMutex_) = false;

    Mutex targetMutex_;
    Target target_ CADRIO_GUARDED_BY(targetMutex_);

    std::thread worker_;
};

}  // namespace cadrio::host
