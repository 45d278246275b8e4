#pragma once
// What other threads hand to the bus thread: answers to deferred calls, a
// request to emit DomainsChanged, a request to stop. sd-bus objects must
// only be touched by the bus thread, so other threads post here and wake it
// through an eventfd that its event loop watches; nothing is polled.
//
// Threads: post*() and close() from any thread; fd() and take() from the
// bus thread. Shared ownership: completion callbacks may keep the mailbox
// alive after the service is gone; once closed, posts are dropped.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/error.hpp"

namespace cadrio::host {

class BusMailbox {
  public:
    struct Reply {
        std::uint64_t token = 0;
        std::optional<fileprovider::Error> error;  // none: success
    };
    struct Mail {
        std::vector<Reply> replies;   // in the order they were posted
        bool domainsChanged = false;  // any number of requests, coalesced
        bool stop = false;            // sticky once requested
    };

    /// Throws std::system_error when no eventfd can be made.
    BusMailbox();
    ~BusMailbox();
    BusMailbox(const BusMailbox&) = delete;
    BusMailbox& operator=(const BusMailbox&) = delete;

    int fd() const noexcept { return fd_; }

    void postReply(std::uint64_t token, std::optional<fileprovider::Error> error)
        CADRIO_EXCLUDES(mutex_);
    void postDomainsChanged() CADRIO_EXCLUDES(mutex_);
    void postStop() CADRIO_EXCLUDES(mutex_);
    void close() CADRIO_EXCLUDES(mutex_);

    /// Clears the wake-up and returns what was posted since the last take.
    Mail take() CADRIO_EXCLUDES(mutex_);

  private:
    void wake() const noexcept;

    const int fd_;
    Mutex mutex_;
    std::vector<Reply> replies_ CADRIO_GUARDED_BY(mutex_);
    bool domainsChanged_ CADRIO_GUARDED_BY(mutex_) = false;
    bool stop_ CADRIO_GUARDED_BY(mutex_) = false;
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::host
