#include "fileprovider/item_store_saves.hpp"

namespace cadrio {

void ItemStoreSaves::request() {
    {
        LockGuard lock(mutex_);
        ++requested_;
        if (scheduled_) return;  // the running or queued job will see it
        scheduled_ = true;
    }
    pool_.submit([this] { serve(); });
}

void ItemStoreSaves::serve() {
    UniqueLock lock(mutex_);
    while (covered_ < requested_) {
        // Every request counted here came after its change: a save that
        // starts now shows them all.
        const std::uint64_t target = requested_;
        lock.unlock();
        try {
            save_();
        } catch (...) {
            // A failed save leaves the previous file; the next one catches up.
        }
        lock.lock();
        covered_ = target;
        coveredChanged_.notify_all();
    }
    scheduled_ = false;
}

void ItemStoreSaves::flush() {
    UniqueLock lock(mutex_);
    const std::uint64_t target = requested_;
    while (covered_ < target) coveredChanged_.wait(lock);
}

}  // namespace cadrio
