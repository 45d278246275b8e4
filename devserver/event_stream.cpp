#include "devserver/event_stream.hpp"

namespace cadrio::devserver {

EventStream::EventStream(std::string account, std::size_t maxQueued)
    : account_(std::move(account)), maxQueued_(maxQueued == 0 ? 1 : maxQueued) {}

bool EventStream::push(std::string frame) {
    {
        LockGuard lock(mutex_);
        if (closed_ || queue_.size() >= maxQueued_) return false;
        queue_.push_back(std::move(frame));
    }
    wake_.notify_one();
    return true;
}

void EventStream::close() {
    {
        LockGuard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_one();
}

EventStream::Next EventStream::waitNext(std::chrono::steady_clock::time_point deadline) {
    UniqueLock lock(mutex_);
    while (!closed_ && queue_.empty()) {
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    if (!queue_.empty()) {
        Next next{Next::Kind::frame, std::move(queue_.front())};
        queue_.pop_front();
        return next;
    }
    return {closed_ ? Next::Kind::closed : Next::Kind::timeout, {}};
}

}  // namespace cadrio::devserver
