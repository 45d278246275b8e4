#pragma once
// What other threads hand to the bus thread: answers to deferred calls,
// signals to emit (DomainsChanged, refused changes, pending-change counts),
// a request to stop. sd-bus objects must
// only be touched by the bus thread, so other threads post here and wake it
// through an eventfd that its event loop watches; nothing is polled.
//
// Threads: post*() and close() from any thread; fd() and take() from the
// bus thread. Shared ownership: completion callbacks may keep the mailbox
// alive after the service is gone; once closed, posts are dropped.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
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
    struct Refusal {
        std::string domain;
        std::string path;
        fileprovider::Error error;
    };
    struct Mail {
        std::vector<Reply> replies;   // in the order they were posted
        bool domainsChanged = false;  // any number of requests, coalesced
        std::vector<Refusal> refusals;  // in the order they were posted
        /// The last count posted for each domain: a burst of changes gives
        /// one signal per domain with the newest count.
        std::map<std::string, std::uint64_t> pendingCounts;
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
    void postRefusal(Refusal refusal) CADRIO_EXCLUDES(mutex_);
    void postPendingCount(const std::string& domain, std::uint64_t count) CADRIO_EXCLUDES(mutex_);
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
    std::vector<Refusal> refusals_ CADRIO_GUARDED_BY(mutex_);
    std::map<std::string, std::uint64_t> pendingCounts_ CADRIO_GUARDED_BY(mutex_);
    bool stop_ CADRIO_GUARDED_BY(mutex_) = false;
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::host
