#pragma once
// One value handed from one thread to another (a download task leaves its
// result for the thread that answers the host).
//
// Threads: any thread may call any member. mutex_ guards stored_ and is
// held only to move the value in or out.

#include <optional>
#include <utility>

#include "core/support/thread_annotations.hpp"

namespace cadrio {

template <class T>
class SendableBox {
public:
    /// Replaces whatever the box held.
    void set(T value) CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        stored_ = std::move(value);
    }

    /// The value, leaving the box empty; absent when it was empty.
    std::optional<T> take() CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return std::exchange(stored_, std::nullopt);
    }

private:
    Mutex mutex_;
    std::optional<T> stored_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio
