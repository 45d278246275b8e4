#pragma once
// Write-behind for the item store's snapshot. Rewriting the whole file after
// every change costs as much as the file is large, which a store of a large
// drive pays at every creation. Here a save request returns at once and one
// writer thread runs the store's save: requests that come while a save runs
// are all served by the next one, which encodes the state of its own moment.
// So the file never shows less than a whole, consistent state, and at most
// one save runs and one is pending however fast the requests come. A request
// lost with the process only means the next start fetches those changes
// again.
//
// Threads: request() and flush() may be called from any thread, save
// included (the writer never waits on itself). mutex_ guards requested_,
// covered_ and scheduled_; it is never held while `save` runs or a job is
// submitted. The destructor waits for the pending save.

#include <condition_variable>
#include <cstdint>
#include <functional>

#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"

namespace cadrio {

class ItemStoreSaves {
public:
    /// `save` writes the store's current state; it must not throw and must
    /// outlive this object.
    explicit ItemStoreSaves(std::function<void()> save) : save_(std::move(save)) {}
    /// Waits for every requested save; later requests save on the calling
    /// thread.
    ~ItemStoreSaves() { pool_.close(); }
    ItemStoreSaves(const ItemStoreSaves&) = delete;
    ItemStoreSaves& operator=(const ItemStoreSaves&) = delete;

    /// The state as it is now will be saved.
    void request() CADRIO_EXCLUDES(mutex_);
    /// Returns once every save requested before the call is on disk (or was
    /// dropped by a failing write).
    void flush() CADRIO_EXCLUDES(mutex_);

private:
    void serve() CADRIO_EXCLUDES(mutex_);

    const std::function<void()> save_;
    Mutex mutex_;
    std::condition_variable_any coveredChanged_;
    std::uint64_t requested_ CADRIO_GUARDED_BY(mutex_) = 0;  // requests so far
    std::uint64_t covered_ CADRIO_GUARDED_BY(mutex_) = 0;    // the first `covered_` are saved
    bool scheduled_ CADRIO_GUARDED_BY(mutex_) = false;       // a serve() job will look again
    WorkPool pool_{1};  // last: closed before the rest goes
};

}  // namespace cadrio
