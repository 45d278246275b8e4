#pragma once
// Observers that pass calls on to the host's observer until the finishing
// call, and drop any call after it: whatever goes wrong after an answer went
// out, the host never sees a second one.
//
// One guard serves one enumeration, used by one task at a time; it needs no
// lock.

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/fileprovider/enumerator.hpp"

namespace cadrio {

class GuardedItemsObserver final : public fileprovider::EnumerationObserver {
public:
    explicit GuardedItemsObserver(std::shared_ptr<fileprovider::EnumerationObserver> target)
        : target_(std::move(target)) {}

    bool isFinished() const noexcept { return finished_; }

    void didEnumerate(std::vector<fileprovider::ItemPtr> items) override {
        if (!finished_) target_->didEnumerate(std::move(items));
    }
    void finishEnumerating(std::optional<fileprovider::Page> nextPage) override {
        if (std::exchange(finished_, true)) return;
        target_->finishEnumerating(std::move(nextPage));
    }
    void finishEnumeratingWithError(fileprovider::Error error) override {
        if (std::exchange(finished_, true)) return;
        target_->finishEnumeratingWithError(std::move(error));
    }

private:
    std::shared_ptr<fileprovider::EnumerationObserver> target_;
    bool finished_ = false;
};

class GuardedChangeObserver final : public fileprovider::ChangeObserver {
public:
    explicit GuardedChangeObserver(std::shared_ptr<fileprovider::ChangeObserver> target) : target_(std::move(target)) {}

    bool isFinished() const noexcept { return finished_; }

    void didUpdate(std::vector<fileprovider::ItemPtr> items) override {
        if (!finished_) target_->didUpdate(std::move(items));
    }
    void didDeleteItems(std::vector<fileprovider::ItemIdentifier> identifiers) override {
        if (!finished_) target_->didDeleteItems(std::move(identifiers));
    }
    void finishEnumeratingChanges(fileprovider::SyncAnchor anchor, bool moreComing) override {
        if (std::exchange(finished_, true)) return;
        target_->finishEnumeratingChanges(std::move(anchor), moreComing);
    }
    void finishEnumeratingWithError(fileprovider::Error error) override {
        if (std::exchange(finished_, true)) return;
        target_->finishEnumeratingWithError(std::move(error));
    }

private:
    std::shared_ptr<fileprovider::ChangeObserver> target_;
    bool finished_ = false;
};

}  // namespace cadrio
