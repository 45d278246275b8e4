#pragma once
// Enumeration: how the host learns the items of a folder, of the working set,
// and what changed since a sync anchor.
//
// Call contract, for one enumerateItems or enumerateChanges call:
// - the enumerator makes zero or more reporting calls on the observer, then
//   exactly one finishing call, after which it never touches the observer;
// - the calls of one enumeration are made one after another, never
//   concurrently, but from any thread, and possibly before the entry point
//   returns;
// - observers are shared pointers so that work still running after the host
//   let go of the enumerator can still finish.
// Items enumerations report didEnumerate then finishEnumerating (nextPage
// present when more pages follow), or finishEnumeratingWithError.
// Change enumerations report didDeleteItems and didUpdate, then
// finishEnumeratingChanges with the anchor to resume from, or
// finishEnumeratingWithError; "sync anchor expired" tells the host to list
// the working set again from the start.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/fileprovider/byte_strings.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/item.hpp"

namespace cadrio::fileprovider {

class EnumerationObserver {
public:
    virtual ~EnumerationObserver() = default;
    virtual void didEnumerate(std::vector<ItemPtr> items) = 0;
    virtual void finishEnumerating(std::optional<Page> nextPage) = 0;
    virtual void finishEnumeratingWithError(Error error) = 0;
};

class ChangeObserver {
public:
    virtual ~ChangeObserver() = default;
    virtual void didUpdate(std::vector<ItemPtr> updatedItems) = 0;
    virtual void didDeleteItems(std::vector<ItemIdentifier> identifiers) = 0;
    virtual void finishEnumeratingChanges(SyncAnchor anchor, bool moreComing) = 0;
    virtual void finishEnumeratingWithError(Error error) = 0;
};

class Enumerator {
public:
    virtual ~Enumerator() = default;

    /// The host is done with this enumerator; work in flight may still
    /// finish on its observers.
    virtual void invalidate() = 0;
    virtual void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page page) = 0;

    /// Enumerators that keep no change history answer "feature unsupported".
    virtual void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) {
        (void)anchor;
        observer->finishEnumeratingWithError(Error::featureUnsupported());
    }
    /// The anchor that a change enumeration starting now would start from;
    /// absent when the enumerator keeps no change history. Called once.
    virtual void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) {
        completion(std::nullopt);
    }
};

}  // namespace cadrio::fileprovider
