#pragma once
// Observers that pass calls on to the host's observer until the finishing
// call, and drop any call after it: whatever goes wrong after an answer went
// out, the host never sees a second one.
//
// One guard serves one enumeration, used by one task at a time; it needs no
// lock.

#include <memory>
#include <optional>
#include <vector>

#include "platform/fileprovider/enumerator.hpp"

namespace cadrio {

class GuardedItemsObserver final : public fileprovider::EnumerationObserver {
public:
    explicit GuardedItemsObserver(std::shared_ptr<fileprovider::EnumerationObserver> target)
        : target_(std::move(target)) {}

    bool isFinished() const noexcept { return finished_; }

    void didEnumerate(std::vector<fileprovider::ItemPtr> items) override;
    void finishEnumerating(std::optional<fileprovider::Page> nextPage) override;
    void finishEnumeratingWithError(fileprovider::Error error) override;

private:
    std::shared_ptr<fileprovider::EnumerationObserver> target_;
    bool finished_ = false;
};

class GuardedChangeObserver final : public fileprovider::ChangeObserver {
public:
    explicit GuardedChangeObserver(std::shared_ptr<fileprovider::ChangeObserver> target) : target_(std::move(target)) {}

    bool isFinished() const noexcept { return finished_; }

    void didUpdate(std::vector<fileprovider::ItemPtr> items) override;
    void didDeleteItems(std::vector<fileprovider::ItemIdentifier> identifiers) override;
    void finishEnumeratingChanges(fileprovider::SyncAnchor anchor, bool moreComing) override;
    void finishEnumeratingWithError(fileprovider::Error error) override;

private:
    std::shared_ptr<fileprovider::ChangeObserver> target_;
    bool finished_ = false;
};

}  // namespace cadrio
