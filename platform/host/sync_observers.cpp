#include "platform/host/sync_observers.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;

Error cannotSynchronize(std::string description) {
    return Error::fileProvider(fileprovider::FileProviderErrorCode::cannotSynchronize,
                               std::move(description));
}
Error serverUnreachable(std::string description) {
    return Error::fileProvider(fileprovider::FileProviderErrorCode::serverUnreachable,
                               std::move(description));
}

/// Replica faults end the enumeration like a plug-in error would.
template <class F>
std::optional<Error> applying(NoticeSink& sink, F&& work) {
    try {
        std::vector<KernelNotice> notices = work();
        sink.post(std::move(notices));
        return std::nullopt;
    } catch (const std::exception& error) {
        return cannotSynchronize(error.what());
    }
}

}  // namespace

TrackedAnswer::TrackedAnswer(Clock& clock) : clock_(clock), lastProgress_(clock.now()) {}

EnumerationOutcome TrackedAnswer::wait(std::chrono::milliseconds timeout,
                                       std::stop_token shutdown) {
    const std::stop_callback wake(shutdown, [this] { done_.request_stop(); });
    const std::stop_token finished = done_.get_token();
    for (;;) {
        Clock::TimePoint deadline;
        {
            LockGuard lock(mutex_);
            if (closed_) return outcome_;
            deadline = lastProgress_ + timeout;
        }
        const bool elapsed = clock_.sleepUntil(deadline, finished);
        LockGuard lock(mutex_);
        if (closed_) return outcome_;
        if (!elapsed) {
            close(EnumerationOutcome::ended(Error::userCancelled()));
        } else if (clock_.now() >= lastProgress_ + timeout) {
            close(EnumerationOutcome::ended(
                serverUnreachable("the plug-in did not answer the enumeration in time")));
        }
    }
}

void TrackedAnswer::abandon(Error error) {
    LockGuard lock(mutex_);
    if (!closed_) close(EnumerationOutcome::ended(std::move(error)));
}

bool TrackedAnswer::accepting() {
    if (closed_) return false;
    lastProgress_ = clock_.now();
    return true;
}

void TrackedAnswer::close(EnumerationOutcome outcome) {
    closed_ = true;
    outcome_ = std::move(outcome);
    done_.request_stop();
}

SliceObserver::SliceObserver(Replica& replica, NoticeSink& sink, Clock& clock,
                             ListingStamp listedAt)
    : TrackedAnswer(clock), replica_(replica), sink_(sink), listedAt_(listedAt) {}

void SliceObserver::didEnumerate(std::vector<fileprovider::ItemPtr> items) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    if (auto error = applying(sink_, [&] { return replica_.applyListed(items, listedAt_); }))
        close(EnumerationOutcome::ended(std::move(error)));
}

void SliceObserver::finishEnumerating(std::optional<fileprovider::Page> nextPage) {
    LockGuard lock(mutex_);
    if (accepting()) close(EnumerationOutcome::continuing(std::move(nextPage)));
}

void SliceObserver::finishEnumeratingWithError(Error error) {
    LockGuard lock(mutex_);
    if (accepting()) close(EnumerationOutcome::ended(std::move(error)));
}

FolderObserver::FolderObserver(Inode folder,
                               std::shared_ptr<std::vector<fileprovider::ItemPtr>> accumulated,
                               Replica& replica, NoticeSink& sink, Clock& clock,
                               ListingStamp listedAt)
    : TrackedAnswer(clock),
      folder_(folder),
      accumulated_(std::move(accumulated)),
      replica_(replica),
      sink_(sink),
      listedAt_(listedAt) {}

void FolderObserver::didEnumerate(std::vector<fileprovider::ItemPtr> items) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    accumulated_->insert(accumulated_->end(), items.begin(), items.end());
}

void FolderObserver::finishEnumerating(std::optional<fileprovider::Page> nextPage) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    if (nextPage) return close(EnumerationOutcome::continuing(std::move(nextPage)));
    close(EnumerationOutcome::ended(
        applying(sink_, [&] { return replica_.replaceChildren(folder_, *accumulated_, listedAt_); })));
}

void FolderObserver::finishEnumeratingWithError(Error error) {
    LockGuard lock(mutex_);
    if (accepting()) close(EnumerationOutcome::ended(std::move(error)));
}

ChangesObserver::ChangesObserver(Replica& replica, NoticeSink& sink, Clock& clock)
    : TrackedAnswer(clock), replica_(replica), sink_(sink) {}

void ChangesObserver::didUpdate(std::vector<fileprovider::ItemPtr> updatedItems) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    updated_.insert(updated_.end(), updatedItems.begin(), updatedItems.end());
}

void ChangesObserver::didDeleteItems(std::vector<fileprovider::ItemIdentifier> identifiers) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    deleted_.insert(deleted_.end(), identifiers.begin(), identifiers.end());
}

void ChangesObserver::finishEnumeratingChanges(fileprovider::SyncAnchor anchor, bool moreComing) {
    LockGuard lock(mutex_);
    if (!accepting()) return;
    const std::span<const fileprovider::ItemIdentifier> deleted(deleted_);
    const std::span<const fileprovider::ItemPtr> updated(updated_);
    auto error = applying(sink_, [&] { return replica_.applyChanges(deleted, updated, anchor); });
    close(EnumerationOutcome::anchored(std::move(error), std::move(anchor), moreComing));
}

void ChangesObserver::finishEnumeratingWithError(Error error) {
    LockGuard lock(mutex_);
    if (accepting()) close(EnumerationOutcome::ended(std::move(error)));
}

void AnchorAnswer::take(std::optional<fileprovider::SyncAnchor> anchor) {
    LockGuard lock(mutex_);
    if (accepting()) close(EnumerationOutcome::anchored(std::nullopt, std::move(anchor), false));
}

}  // namespace cadrio::host
