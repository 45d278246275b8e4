#include "fileprovider/guarded_observers.hpp"

#include <utility>

namespace cadrio {

void GuardedItemsObserver::didEnumerate(std::vector<fileprovider::ItemPtr> items) {
    if (!finished_) target_->didEnumerate(std::move(items));
}

void GuardedItemsObserver::finishEnumerating(std::optional<fileprovider::Page> nextPage) {
    if (std::exchange(finished_, true)) return;
    target_->finishEnumerating(std::move(nextPage));
}

void GuardedItemsObserver::finishEnumeratingWithError(fileprovider::Error error) {
    if (std::exchange(finished_, true)) return;
    target_->finishEnumeratingWithError(std::move(error));
}

void GuardedChangeObserver::didUpdate(std::vector<fileprovider::ItemPtr> items) {
    if (!finished_) target_->didUpdate(std::move(items));
}

void GuardedChangeObserver::didDeleteItems(std::vector<fileprovider::ItemIdentifier> identifiers) {
    if (!finished_) target_->didDeleteItems(std::move(identifiers));
}

void GuardedChangeObserver::finishEnumeratingChanges(fileprovider::SyncAnchor anchor, bool moreComing) {
    if (std::exchange(finished_, true)) return;
    target_->finishEnumeratingChanges(std::move(anchor), moreComing);
}

void GuardedChangeObserver::finishEnumeratingWithError(fileprovider::Error error) {
    if (std::exchange(finished_, true)) return;
    target_->finishEnumeratingWithError(std::move(error));
}

}  // namespace cadrio
