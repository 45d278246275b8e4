#include "fileprovider/file_provider_enumerator.hpp"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "fileprovider/concurrent_requests.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/guarded_observers.hpp"
#include "fileprovider/sync_anchor.hpp"

namespace cadrio {
namespace {

using fileprovider::ItemPtr;

/// Items for the live records of a page or listing, folders first, each in
/// the order received. The records are moved into the items: call this once
/// the store has taken its copy.
std::vector<ItemPtr> liveItems(std::vector<DriveFolder>&& folders, std::vector<DriveFile>&& files) {
    std::vector<ItemPtr> items;
    items.reserve(folders.size() + files.size());
    for (DriveFolder& folder : folders) {
        if (folder.isSynchronizable()) items.push_back(DiskItem::folder(std::move(folder)));
    }
    for (DriveFile& file : files) {
        if (file.isSynchronizable()) items.push_back(DiskItem::file(std::move(file)));
    }
    // The emptied records of a large page still take tens of megabytes.
    folders = {};
    files = {};
    return items;
}

std::vector<fileprovider::ItemIdentifier> hostIdentifiers(const std::vector<ItemIdentifier>& identifiers) {
    std::vector<fileprovider::ItemIdentifier> out;
    out.reserve(identifiers.size());
    for (const ItemIdentifier& identifier : identifiers) out.push_back(hostIdentifier(identifier));
    return out;
}

}  // namespace

FileProviderEnumerator::FileProviderEnumerator(ItemIdentifier container, bool isWorkingSet, Context context)
    : container_(container), isWorkingSet_(isWorkingSet), context_(std::move(context)) {}

void FileProviderEnumerator::enumerateItems(std::shared_ptr<fileprovider::EnumerationObserver> observer,
                                            fileprovider::Page) {
    // The task keeps the enumerator alive: the host may let go of it before
    // the answer is in.
    auto self = shared_from_this();
    context_.tasks->start([self, target = std::move(observer)](std::stop_token stop) {
        GuardedItemsObserver observer(target);
        try {
            if (self->isWorkingSet_) {
                self->listWorkingSet(observer, stop);
            } else {
                self->listContainer(observer, stop);
            }
        } catch (...) {
            observer.finishEnumeratingWithError(mapError(std::current_exception()));
        }
    });
}

void FileProviderEnumerator::enumerateChanges(std::shared_ptr<fileprovider::ChangeObserver> observer,
                                              fileprovider::SyncAnchor anchor) {
    auto self = shared_from_this();
    context_.tasks->start([self, target = std::move(observer), anchor = std::move(anchor)](std::stop_token stop) {
        GuardedChangeObserver observer(target);
        try {
            self->reportChanges(observer, anchor, stop);
        } catch (...) {
            observer.finishEnumeratingWithError(mapError(std::current_exception()));
        }
    });
}

void FileProviderEnumerator::currentSyncAnchor(
    std::function<void(std::optional<fileprovider::SyncAnchor>)> completion) {
    context_.tasks->start([store = context_.store, completion = std::move(completion)](std::stop_token) {
        completion(syncAnchor(store->cursor()));
    });
}

void FileProviderEnumerator::listContainer(fileprovider::EnumerationObserver& observer, std::stop_token stop) const {
    const std::optional<std::int64_t> parent = container_.serverFolderID();
    std::vector<DriveFolder> folders;
    std::vector<DriveFile> files;
    const ItemStore::ListingStamp listedAt = context_.store->listingStamp();
    try {
        runConcurrently([&](std::stop_token both) { folders = context_.api->folders(parent, both); },
                        [&](std::stop_token both) { files = context_.api->files(parent, both); }, stop,
                        context_.tasks->pool());
    } catch (...) {
        const auto failure = std::current_exception();
        context_.logger.error("Énumération de {} impossible : {}", container_.rawValue(), describeError(failure));
        observer.finishEnumeratingWithError(mapError(failure));
        return;
    }
    context_.store->replaceChildren(parent, folders, files, listedAt);
    context_.store->save();
    observer.didEnumerate(liveItems(std::move(folders), std::move(files)));
    observer.finishEnumerating(std::nullopt);
}

void FileProviderEnumerator::listWorkingSet(fileprovider::EnumerationObserver& observer, std::stop_token stop) const {
    const std::int64_t askedAt = context_.store->cursor();
    DriveChanges page;
    try {
        page = context_.api->changes(0, stop);
    } catch (...) {
        const auto failure = std::current_exception();
        context_.logger.error("État complet impossible : {}", describeError(failure));
        observer.finishEnumeratingWithError(mapError(failure));
        return;
    }
    std::vector<ItemPtr> items;
    if (context_.store->replaceAll(page.folders, page.files, page.cursor, askedAt)) {
        items = liveItems(std::move(page.folders), std::move(page.files));
    } else {
        // Newer state came in while this listing was on its way; the host
        // gets that state, which the anchor it asks for next describes.
        context_.logger.info("État complet dépassé (curseur {}) : l'état local, plus récent, est transmis.",
                             page.cursor);
        page = {};
        ItemStore::Records current = context_.store->contents();
        items = liveItems(std::move(current.folders), std::move(current.files));
    }
    for (std::size_t start = 0; start < items.size(); start += kWorkingSetSlice) {
        const std::size_t end = std::min(items.size(), start + kWorkingSetSlice);
        observer.didEnumerate(std::vector<ItemPtr>(items.begin() + static_cast<std::ptrdiff_t>(start),
                                                   items.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    context_.logger.info("État complet : {} éléments.", items.size());
    observer.finishEnumerating(std::nullopt);
}

void FileProviderEnumerator::reportChanges(fileprovider::ChangeObserver& observer,
                                           const fileprovider::SyncAnchor& anchor, std::stop_token stop) const {
    const std::optional<std::int64_t> anchorCursor = cursorOfSyncAnchor(anchor);
    if (!anchorCursor) {
        context_.logger.info("Point de reprise d'un ancien format : relecture complète demandée.");
        observer.finishEnumeratingWithError(fileprovider::Error::syncAnchorExpired());
        return;
    }
    // A store behind the host (its file was lost, say) replays from its own
    // position, so that it catches up with what the host already has.
    const std::int64_t since = std::min(*anchorCursor, context_.store->cursor());
    DriveChanges page;
    try {
        page = context_.api->changes(since, stop);
    } catch (...) {
        const auto failure = std::current_exception();
        context_.logger.error("Delta impossible : {}", describeError(failure));
        observer.finishEnumeratingWithError(mapError(failure));
        return;
    }
    const fileprovider::SyncAnchor newAnchor = syncAnchor(page.cursor);
    std::optional<std::vector<ItemIdentifier>> withdrawn = context_.store->applyChanges(page);
    std::vector<ItemPtr> updated;
    if (withdrawn) {
        updated = liveItems(std::move(page.folders), std::move(page.files));
    } else {
        // The store went past this page meanwhile: the host hears the
        // current state of the page's items, under the page's own anchor,
        // so that the next request replays whatever came after it.
        context_.logger.info("Delta dépassé (curseur {}) : l'état local, plus récent, est transmis.", page.cursor);
        ItemStore::CurrentState current = context_.store->currentStateOf(page);
        page = {};
        withdrawn = std::move(current.withdrawn);
        updated = liveItems(std::move(current.live.folders), std::move(current.live.files));
    }
    observer.didDeleteItems(hostIdentifiers(*withdrawn));
    observer.didUpdate(std::move(updated));
    observer.finishEnumeratingChanges(newAnchor, false);
}

}  // namespace cadrio
