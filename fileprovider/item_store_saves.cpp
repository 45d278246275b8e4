#include "fileprovider/item_store_saves.hpp"

namespace cadrio {

ItemStoreSaves::~ItemStoreSaves() {
    {
        LockGuard lock(mutex_);
        closing_ = true;
        pacing_.request_stop();
    }
    pool_.close();
}

void ItemStoreSaves::request() {
    {
        LockGuard lock(mutex_);
        ++requested_;
        if (scheduled_) return;  // the running or queued job will see it
        scheduled_ = true;
    }
    pool_.submit([this] { serve(); });
}

void ItemStoreSaves::pace() {
    std::stop_token stop;
    Clock::TimePoint until;
    {
        LockGuard lock(mutex_);
        if (hurried_ || closing_ || !lastSave_) return;
        pacing_ = std::stop_source();
        stop = pacing_.get_token();
        until = *lastSave_ + interval_;
    }
    clock_.sleepUntil(until, stop);
}

void ItemStoreSaves::serve() {
    UniqueLock lock(mutex_);
    while (covered_ < requested_) {
        lock.unlock();
        pace();
        lock.lock();
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
        lastSave_ = clock_.now();
        coveredChanged_.notify_all();
    }
    hurried_ = false;
    scheduled_ = false;
}

void ItemStoreSaves::flush() {
    UniqueLock lock(mutex_);
    const std::uint64_t target = requested_;
    if (covered_ >= target) return;
    hurried_ = true;
    pacing_.request_stop();
    while (covered_ < target) coveredChanged_.wait(lock);
}

}  // namespace cadrio
