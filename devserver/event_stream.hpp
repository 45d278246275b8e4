#pragma once
// The queue between EventHub::publish and the server thread that writes one
// client's text/event-stream.
//
// Thread safety: push() and close() are called from any thread and never
// wait for the writer; waitNext() is called by the one writer thread.
// `mutex_` guards queue_ and closed_; the writer never holds it while
// writing to the socket.

#include "core/support/thread_annotations.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <string>

namespace cadrio::devserver {

class EventStream {
public:
    /// A client that lets `maxQueued` frames pile up already has a change
    /// notice waiting, so later frames are dropped instead of growing memory
    /// (a notice carries no change itself: the client re-reads the feed).
    explicit EventStream(std::string account, std::size_t maxQueued = 64);

    const std::string& account() const { return account_; }

    /// Queues one complete frame (ending with a blank line). Returns false
    /// when it was dropped (queue full or stream closed).
    bool push(std::string frame) CADRIO_EXCLUDES(mutex_);

    /// Wakes the writer, which ends the stream after the frames queued so far.
    void close() CADRIO_EXCLUDES(mutex_);

    struct Next {
        enum class Kind { frame, timeout, closed };
        Kind kind = Kind::timeout;
        std::string frame;  // for Kind::frame
    };

    /// The oldest queued frame; otherwise waits until one arrives, the
    /// stream is closed or `deadline` passes.
    Next waitNext(std::chrono::steady_clock::time_point deadline) CADRIO_EXCLUDES(mutex_);

private:
    const std::string account_;
    const std::size_t maxQueued_;
    Mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::string> queue_ CADRIO_GUARDED_BY(mutex_);
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::devserver
