#pragma once
// Write-behind for the item store's snapshot. Rewriting the whole file after
// every change costs as much as the file is large, which a store of a large
// drive pays at every creation. Here a save request returns at once and one
// writer thread runs the store's save, at most once per `interval` on the
// clock: requests that come meanwhile, or while a save runs, are all served
// by the next one, which encodes the state of its own moment. So the file
// never shows less than a whole, consistent state, and a burst of changes
// costs one rewrite per interval. A request lost with the process only means
// the next start fetches those changes again.
//
// Threads: request() and flush() may be called from any thread, but not from
// `save`. mutex_ guards every field below it; it is never held while `save`
// runs, a job is submitted or the writer waits on the clock. flush() and the
// destructor cut the writer's wait short. The clock must outlive this object.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>

#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"

namespace cadrio {

class ItemStoreSaves {
public:
    /// `save` writes the store's current state; it must not throw and must
    /// outlive this object.
    ItemStoreSaves(std::function<void()> save, Clock& clock, Clock::Duration interval)
        : save_(std::move(save)), clock_(clock), interval_(interval) {}
    /// Saves what was requested, at once; later requests save on the
    /// calling thread.
    ~ItemStoreSaves();
    ItemStoreSaves(const ItemStoreSaves&) = delete;
    ItemStoreSaves& operator=(const ItemStoreSaves&) = delete;

    /// The state as it is now will be saved.
    void request() CADRIO_EXCLUDES(mutex_);
    /// Returns once every save requested before the call is on disk (or was
    /// dropped by a failing write), without waiting for the interval.
    void flush() CADRIO_EXCLUDES(mutex_);

private:
    void serve() CADRIO_EXCLUDES(mutex_);
    /// Until `interval_` after the last save, unless hurried.
    void pace() CADRIO_EXCLUDES(mutex_);

    const std::function<void()> save_;
    Clock& clock_;
    const Clock::Duration interval_;
    Mutex mutex_;
    std::condition_variable_any coveredChanged_;
    std::uint64_t requested_ CADRIO_GUARDED_BY(mutex_) = 0;  // requests so far
    std::uint64_t covered_ CADRIO_GUARDED_BY(mutex_) = 0;    // the first `covered_` are saved
    bool scheduled_ CADRIO_GUARDED_BY(mutex_) = false;       // a serve() job will look again
    bool hurried_ CADRIO_GUARDED_BY(mutex_) = false;         // a flush waits: no pacing until all is saved
    bool closing_ CADRIO_GUARDED_BY(mutex_) = false;         // no pacing any more
    std::stop_source pacing_ CADRIO_GUARDED_BY(mutex_);      // stops the writer's current wait
    std::optional<Clock::TimePoint> lastSave_ CADRIO_GUARDED_BY(mutex_);
    WorkPool pool_{1};  // last: closed before the rest goes
};

}  // namespace cadrio
