#pragma once
// The sync engine's side of one enumeration: observers that take the
// plug-in's answers, apply them to the replica as they arrive, and let the
// engine's job wait for the end on the injected clock.
//
// An answer counts once: the first finishing call (or the engine giving up:
// no progress within the timeout, shutdown, the plug-in throwing) closes
// the observer, and every later call is ignored without touching the
// replica, the sink or the clock, so a plug-in may answer late or twice,
// even after the engine is gone.
//
// Threads: the plug-in calls from any thread while the engine's job waits in
// wait(). mutex_ guards the outcome and the progress time; it is held while
// a slice is applied to the replica (lock order: observer, then replica) so
// that nothing lands after the engine gave up, and never while calling the
// plug-in.

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/enumerator.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"

namespace cadrio::host {

struct EnumerationOutcome {
    std::optional<fileprovider::Error> error;
    std::optional<fileprovider::Page> nextPage;
    std::optional<fileprovider::SyncAnchor> anchor;
    bool moreComing = false;

    static EnumerationOutcome ended(std::optional<fileprovider::Error> error) {
        EnumerationOutcome outcome;
        outcome.error = std::move(error);
        return outcome;
    }
    static EnumerationOutcome continuing(std::optional<fileprovider::Page> nextPage) {
        EnumerationOutcome outcome;
        outcome.nextPage = std::move(nextPage);
        return outcome;
    }
    static EnumerationOutcome anchored(std::optional<fileprovider::Error> error,
                                       std::optional<fileprovider::SyncAnchor> anchor,
                                       bool moreComing) {
        EnumerationOutcome outcome = ended(std::move(error));
        outcome.anchor = std::move(anchor);
        outcome.moreComing = moreComing;
        return outcome;
    }
};

class TrackedAnswer {
  public:
    explicit TrackedAnswer(Clock& clock);
    virtual ~TrackedAnswer() = default;

    /// Waits until the answer is complete, or `timeout` passed without any
    /// call from the plug-in, or `shutdown` fires (user cancelled).
    EnumerationOutcome wait(std::chrono::milliseconds timeout, std::stop_token shutdown);
    /// Closes with `error` unless already closed (the plug-in threw).
    void abandon(fileprovider::Error error);

  protected:
    /// True while answers count; marks progress.
    bool accepting() CADRIO_REQUIRES(mutex_);
    void close(EnumerationOutcome outcome) CADRIO_REQUIRES(mutex_);

    Mutex mutex_;
    Clock& clock_;

  private:
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
    EnumerationOutcome outcome_ CADRIO_GUARDED_BY(mutex_);
    Clock::TimePoint lastProgress_ CADRIO_GUARDED_BY(mutex_);
    std::stop_source done_;
};

/// A working-set listing asked for at `listedAt`: each slice is one
/// replica transaction.
class SliceObserver final : public fileprovider::EnumerationObserver, public TrackedAnswer {
  public:
    SliceObserver(Replica& replica, NoticeSink& sink, Clock& clock, ListingStamp listedAt);
    void didEnumerate(std::vector<fileprovider::ItemPtr> items) override;
    void finishEnumerating(std::optional<fileprovider::Page> nextPage) override;
    void finishEnumeratingWithError(fileprovider::Error error) override;

  private:
    Replica& replica_;
    NoticeSink& sink_;
    const ListingStamp listedAt_;
};

/// One page of a folder listing asked for at `listedAt`; the last page
/// replaces the folder's children with every page's items.
class FolderObserver final : public fileprovider::EnumerationObserver, public TrackedAnswer {
  public:
    FolderObserver(Inode folder, std::shared_ptr<std::vector<fileprovider::ItemPtr>> accumulated,
                   Replica& replica, NoticeSink& sink, Clock& clock, ListingStamp listedAt);
    void didEnumerate(std::vector<fileprovider::ItemPtr> items) override;
    void finishEnumerating(std::optional<fileprovider::Page> nextPage) override;
    void finishEnumeratingWithError(fileprovider::Error error) override;

  private:
    const Inode folder_;
    // Shared with the listing's other pages, which run one after another;
    // touched under mutex_ only.
    const std::shared_ptr<std::vector<fileprovider::ItemPtr>> accumulated_;
    Replica& replica_;
    NoticeSink& sink_;
    const ListingStamp listedAt_;
};

/// One change page, applied with its anchor in one transaction.
class ChangesObserver final : public fileprovider::ChangeObserver, public TrackedAnswer {
  public:
    ChangesObserver(Replica& replica, NoticeSink& sink, Clock& clock);
    void didUpdate(std::vector<fileprovider::ItemPtr> updatedItems) override;
    void didDeleteItems(std::vector<fileprovider::ItemIdentifier> identifiers) override;
    void finishEnumeratingChanges(fileprovider::SyncAnchor anchor, bool moreComing) override;
    void finishEnumeratingWithError(fileprovider::Error error) override;

  private:
    Replica& replica_;
    NoticeSink& sink_;
    std::vector<fileprovider::ItemPtr> updated_ CADRIO_GUARDED_BY(mutex_);
    std::vector<fileprovider::ItemIdentifier> deleted_ CADRIO_GUARDED_BY(mutex_);
};

/// The answer to currentSyncAnchor.
class AnchorAnswer final : public TrackedAnswer {
  public:
    using TrackedAnswer::TrackedAnswer;
    void take(std::optional<fileprovider::SyncAnchor> anchor);
};

}  // namespace cadrio::host
