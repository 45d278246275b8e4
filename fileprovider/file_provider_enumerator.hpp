#pragma once
// Answers the host's enumerations: the content of one folder or of the
// root, the working set (the whole drive, which the host uses to follow
// changes everywhere), the current sync anchor, and the changes since an
// anchor. Drive listings and change pages become DiskItems; the item store
// is brought in step before the host is told anything, so it is never
// behind what the host knows.
//
// Observer calls, per request (docs/host-contract.md):
//   folder or root:   didEnumerate(all, even none), finishEnumerating(none)
//   working set:      didEnumerate per slice of 500 (none when empty),
//                     finishEnumerating(none)
//   changes:          didDeleteItems(withdrawn), didUpdate(updated),
//                     finishEnumeratingChanges("v3:" + cursor, false)
//   any failure:      finishEnumeratingWithError(mapError(failure)) only;
//                     the store keeps its content and cursor.
// The page argument is ignored: every enumeration delivers everything.
//
// Two enumerations may run at once, and the answer that was asked for first
// may come back last. The store never goes back (item_store.hpp); when it
// refuses a listing or page because newer state came in meanwhile, the host
// is told that newer state instead: the working set as the store holds it,
// and for a change page the store's state of the items the page names,
// under the page's own anchor (the next request replays what came after).
//
// Threads: each entry point queues one task on the shared TaskGroup and
// returns at once; the observer (or completion) is called from that task,
// exactly once with a finishing call. The enumerator holds no mutable
// state; the store serialises itself.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/model/item_identifier.hpp"
#include "fileprovider/drive_listing.hpp"
#include "fileprovider/item_store.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/fileprovider/enumerator.hpp"
#include "platform/log/logger.hpp"

namespace cadrio {

class FileProviderEnumerator final : public fileprovider::Enumerator,
                                     public std::enable_shared_from_this<FileProviderEnumerator> {
public:
    /// What every enumerator shares with its extension.
    struct Context {
        std::shared_ptr<DriveListing> api;
        std::shared_ptr<ItemStore> store;
        std::shared_ptr<TaskGroup> tasks;
        log::Logger logger;
    };

    /// Items per didEnumerate call of the working set.
    static constexpr std::size_t kWorkingSetSlice = 500;

    /// `container` is a folder or the root; the working set enumerates from
    /// the root with `isWorkingSet`. Create it with std::make_shared: its
    /// tasks keep it alive until they have answered.
    FileProviderEnumerator(ItemIdentifier container, bool isWorkingSet, Context context);

    const ItemIdentifier& container() const noexcept { return container_; }
    bool isWorkingSet() const noexcept { return isWorkingSet_; }

    void invalidate() override {}
    void enumerateItems(std::shared_ptr<fileprovider::EnumerationObserver> observer, fileprovider::Page page) override;
    void enumerateChanges(std::shared_ptr<fileprovider::ChangeObserver> observer,
                          fileprovider::SyncAnchor anchor) override;
    void currentSyncAnchor(std::function<void(std::optional<fileprovider::SyncAnchor>)> completion) override;

private:
    // The bodies of the tasks; each ends with exactly one finishing call.
    void listContainer(fileprovider::EnumerationObserver& observer, std::stop_token stop) const;
    void listWorkingSet(fileprovider::EnumerationObserver& observer, std::stop_token stop) const;
    void reportChanges(fileprovider::ChangeObserver& observer, const fileprovider::SyncAnchor& anchor,
                       std::stop_token stop) const;

    const ItemIdentifier container_;
    const bool isWorkingSet_;
    const Context context_;
};

}  // namespace cadrio
