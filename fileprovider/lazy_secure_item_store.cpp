#include "fileprovider/lazy_secure_item_store.hpp"

#include <stdexcept>

namespace cadrio {

SecureItemStore& LazySecureItemStore::store() {
    {
        UniqueLock lock(mutex_);
        if (state_ == State::opening) {
            const std::uint64_t awaited = attempts_;
            ++waiting_;
            waitersChanged_.notify_all();
            while (attempts_ == awaited) opened_.wait(lock);
            --waiting_;
            if (state_ == State::open) return *store_;
            if (failure_) std::rethrow_exception(failure_);
            throw std::logic_error("an opening of the secure item store ended without an outcome");
        }
        if (state_ == State::open) return *store_;
        state_ = State::opening;
    }
    return openAsTheOpener();
}

SecureItemStore& LazySecureItemStore::openAsTheOpener() {
    std::unique_ptr<SecureItemStore> opened;
    std::exception_ptr failure;
    try {
        opened = open_();
        if (!opened) throw std::runtime_error("no secure item store could be opened");
    } catch (...) {
        failure = std::current_exception();
    }
    LockGuard lock(mutex_);
    ++attempts_;
    failure_ = failure;
    if (failure) {
        state_ = State::closed;
    } else {
        store_ = std::move(opened);
        state_ = State::open;
    }
    opened_.notify_all();
    if (failure) std::rethrow_exception(failure);
    return *store_;
}

std::string_view LazySecureItemStore::backendName() const {
    LockGuard lock(mutex_);
    return state_ == State::open ? store_->backendName() : "lazy";
}

bool LazySecureItemStore::waitForWaitingCallers(std::size_t count, std::chrono::milliseconds safety) const {
    const auto deadline = std::chrono::steady_clock::now() + safety;
    UniqueLock lock(mutex_);
    while (waiting_ < count) {
        if (waitersChanged_.wait_until(lock, deadline) == std::cv_status::timeout) return waiting_ >= count;
    }
    return true;
}

}  // namespace cadrio
