#include "devserver/event_stream.hpp"

namespace cadrio::devserver {

EventStream::EventStream(std::string account, std::size_t maxQueued)
    : account_(std::move(account)), maxQueued_(maxQueued == 0 ? 1 : maxQueued) {}

bool EventStream::push(std::string frame) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || queue_.size() >= maxQueued_) return false;
        queue_.push_back(std::move(frame));
    }
    wake_.notify_one();
    return true;
}

void EventStream::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_one();
}

EventStream::Next EventStream::waitNext(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, deadline, [this] { return closed_ || !queue_.empty(); });
    if (!queue_.empty()) {
        Next next{Next::Kind::frame, std::move(queue_.front())};
        queue_.pop_front();
        return next;
    }
    return {closed_ ? Next::Kind::closed : Next::Kind::timeout, {}};
}

}  // namespace cadrio::devserver
