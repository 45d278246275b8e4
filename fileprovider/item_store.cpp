#include "fileprovider/item_store.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <unordered_set>

#include "core/model/wire_conversions.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "core/support/atomic_file.hpp"
#include "fileprovider/item_snapshot.hpp"
#include "fileprovider/name_order.hpp"

namespace cadrio {
namespace {

bool sameParent(std::optional<std::int64_t> a, std::optional<std::int64_t> b) { return a == b; }

/// Folders and files share the write stamps: folder ids go below zero.
std::int64_t folderKey(std::int64_t id) { return -1 - id; }

// Hand-built records (after a creation or a move) may name the root as 0;
// keeping one spelling lets children(of:) find them.
DriveFolder normalized(DriveFolder folder) {
    folder.parentFolderID = parentIDFromWire(folder.parentFolderID);
    return folder;
}

DriveFile normalized(DriveFile file) {
    file.parentFolderID = parentIDFromWire(file.parentFolderID);
    return file;
}

ItemStore::Locations domainLocations(std::string_view domainIdentifier) {
    return {ZelvanoCadrio::itemStoreURL(domainIdentifier), ZelvanoCadrio::summaryURL(domainIdentifier)};
}

}  // namespace

ItemStore::ItemStore(std::string_view domainIdentifier)
    : ItemStore(domainLocations(domainIdentifier), {}, {}, Saving::coalesced) {}

ItemStore::ItemStore(Locations locations, DateSource now, OrderedFileWriter::Write write, Saving saving,
                     Clock& clock)
    : locations_(std::move(locations)),
      now_(now ? std::move(now) : DateSource([] { return std::chrono::system_clock::now(); })),
      snapshotFile_(locations_.snapshot, write),
      summaryFile_(locations_.summary, std::move(write)),
      saves_(saving == Saving::coalesced && locations_.snapshot
                 ? std::make_unique<ItemStoreSaves>([this] { saveNow(); }, clock, kRewriteInterval)
                 : nullptr) {
    load();
}

void ItemStore::load() {
    // Runs before the store is shared; the lock only keeps the contract simple.
    LockGuard lock(mutex_);
    summary_ = DomainSummary::load(locations_.summary).value_or(DomainSummary{});
    if (!locations_.snapshot) return;
    sweepStaleTemporaries(*locations_.snapshot);  // what saves killed mid-write left
    std::optional<ItemSnapshot> snapshot;
    try {
        snapshot = decodeSnapshot(readWholeFile(*locations_.snapshot, kMaxSnapshotBytes));
    } catch (const std::exception&) {
        return;  // missing or unreadable: start empty, the next save replaces it
    }
    if (!snapshot) return;
    cursor_ = snapshot->cursor;
    folders_.reserve(snapshot->folders.size());
    for (DriveFolder& folder : snapshot->folders) {
        const std::int64_t id = folder.id;
        folders_.insert_or_assign(id, std::move(folder));
    }
    files_.reserve(snapshot->files.size());
    for (DriveFile& file : snapshot->files) {
        const std::int64_t id = file.id;
        files_.insert_or_assign(id, std::move(file));
    }
    for (DriveFile& file : snapshot->withdrawn) rememberWithdrawnLocked(std::move(file));
}

std::optional<DriveFile> ItemStore::file(std::int64_t id) const {
    LockGuard lock(mutex_);
    const auto found = files_.find(id);
    if (found == files_.end()) return std::nullopt;
    return found->second;
}

std::optional<DriveFolder> ItemStore::folder(std::int64_t id) const {
    LockGuard lock(mutex_);
    const auto found = folders_.find(id);
    if (found == folders_.end()) return std::nullopt;
    return found->second;
}

ItemStore::Children ItemStore::children(std::optional<std::int64_t> parent) const {
    parent = parentIDFromWire(parent);
    Children children;
    {
        LockGuard lock(mutex_);
        for (const auto& [id, folder] : folders_) {
            if (sameParent(folder.parentFolderID, parent) && !folder.isTrashed) children.folders.push_back(folder);
        }
        for (const auto& [id, file] : files_) {
            if (sameParent(file.parentFolderID, parent) && file.isSynchronizable()) children.files.push_back(file);
        }
    }
    // The maps have no order of their own; sort by id first so that equal
    // names always come out the same way.
    std::sort(children.folders.begin(), children.folders.end(), [](auto& a, auto& b) { return a.id < b.id; });
    std::sort(children.files.begin(), children.files.end(), [](auto& a, auto& b) { return a.id < b.id; });
    sortByName(children.folders);
    sortByName(children.files);
    return children;
}

ItemStore::Records ItemStore::contents() const {
    Records records;
    {
        LockGuard lock(mutex_);
        records.folders.reserve(folders_.size());
        records.files.reserve(files_.size());
        for (const auto& [id, folder] : folders_) records.folders.push_back(folder);
        for (const auto& [id, file] : files_) records.files.push_back(file);
    }
    std::sort(records.folders.begin(), records.folders.end(), [](auto& a, auto& b) { return a.id < b.id; });
    std::sort(records.files.begin(), records.files.end(), [](auto& a, auto& b) { return a.id < b.id; });
    return records;
}

ItemStore::CurrentState ItemStore::currentStateOf(const DriveChanges& page) const {
    CurrentState state;
    std::unordered_set<std::int64_t> seenFolders;
    std::unordered_set<std::int64_t> seenFiles;
    LockGuard lock(mutex_);
    for (const DriveFolder& named : page.folders) {
        if (!seenFolders.insert(named.id).second) continue;
        const auto found = folders_.find(named.id);
        if (found == folders_.end()) {
            state.withdrawn.push_back(ItemIdentifier::folder(named.id));
        } else {
            state.live.folders.push_back(found->second);
        }
    }
    for (const DriveFile& named : page.files) {
        if (!seenFiles.insert(named.id).second) continue;
        const auto found = files_.find(named.id);
        if (found == files_.end()) {
            state.withdrawn.push_back(ItemIdentifier::file(named.id));
        } else {
            state.live.files.push_back(found->second);
        }
    }
    return state;
}

std::int64_t ItemStore::cursor() const {
    LockGuard lock(mutex_);
    return cursor_;
}

void ItemStore::setCursor(std::int64_t cursor) {
    LockGuard lock(mutex_);
    cursor_ = cursor;
}

DomainSummary ItemStore::summary() const {
    LockGuard lock(mutex_);
    return summary_;
}

std::size_t ItemStore::folderCount() const {
    LockGuard lock(mutex_);
    return folders_.size();
}

std::size_t ItemStore::fileCount() const {
    LockGuard lock(mutex_);
    return files_.size();
}

void ItemStore::upsert(std::span<const DriveFolder> folders, std::span<const DriveFile> files) {
    LockGuard lock(mutex_);
    upsertLocked(folders, files);
}

void ItemStore::upsertLocked(std::span<const DriveFolder> folders, std::span<const DriveFile> files) {
    for (const DriveFolder& folder : folders) {
        stamps_.note(folderKey(folder.id));
        if (folder.isTrashed) {
            folders_.erase(folder.id);
        } else {
            folders_.insert_or_assign(folder.id, normalized(folder));
        }
    }
    for (const DriveFile& file : files) {
        stamps_.note(file.id);
        if (!file.isSynchronizable()) {
            files_.erase(file.id);
            rememberWithdrawnLocked(normalized(file));
        } else {
            // Back on the drive (restored from the trash): its place in the
            // order goes too, or a later withdrawal would count it twice.
            if (withdrawn_.erase(file.id) > 0) std::erase(withdrawnOrder_, file.id);
            files_.insert_or_assign(file.id, normalized(file));
        }
    }
}

void ItemStore::rememberWithdrawnLocked(DriveFile file) {
    const std::int64_t id = file.id;
    if (!withdrawn_.insert_or_assign(id, std::move(file)).second) return;
    withdrawnOrder_.push_back(id);
    while (withdrawnOrder_.size() > kWithdrawnKept) {
        withdrawn_.erase(withdrawnOrder_.front());
        withdrawnOrder_.pop_front();
    }
}

std::optional<DriveFile> ItemStore::withdrawnFile(std::int64_t id) const {
    LockGuard lock(mutex_);
    const auto found = withdrawn_.find(id);
    return found == withdrawn_.end() ? std::nullopt : std::optional(found->second);
}

std::vector<DriveFile> ItemStore::filesLike(std::string_view name, std::string_view contentHash) const {
    std::vector<DriveFile> like;
    {
        LockGuard lock(mutex_);
        for (const auto& [id, file] : files_) {
            if (file.contentHash == contentHash && namesAreEquivalent(file.name, name)) like.push_back(file);
        }
    }
    std::sort(like.begin(), like.end(), [](auto& a, auto& b) { return a.id < b.id; });
    return like;
}

std::vector<DriveFile> ItemStore::withdrawnChildren(std::optional<std::int64_t> parent) const {
    parent = parentIDFromWire(parent);
    LockGuard lock(mutex_);
    std::vector<DriveFile> children;
    for (const auto& [id, file] : withdrawn_) {
        const std::optional<std::int64_t> folder = parentIDFromWire(file.parentFolderID);
        if (sameParent(folder, parent) || (folder && !folders_.contains(*folder))) children.push_back(file);
    }
    return children;
}

bool ItemStore::replaceAll(std::span<const DriveFolder> folders, std::span<const DriveFile> files,
                           std::int64_t cursor, std::optional<std::int64_t> askedAt) {
    std::optional<PendingWrite> snapshot;
    std::optional<PendingWrite> summary;
    {
        LockGuard lock(mutex_);
        if (cursor < cursor_ && askedAt != cursor_) return false;
        folders_.clear();
        files_.clear();
        folders_.reserve(folders.size());
        files_.reserve(files.size());
        upsertLocked(folders, files);
        cursor_ = cursor;
        snapshot = snapshotForImmediateSaveLocked();
        summary_.archivedFileIDs.clear();
        summary_.apply(files);
        summary = encodeSummaryLocked();
    }
    persistSnapshot(snapshot);
    write(summaryFile_, summary);
    return true;
}

bool ItemStore::newerLocked(std::int64_t key, ListingStamp listedAt) const {
    // Past what the stamps remember, every record counts as newer.
    return !stamps_.known(listedAt) || stamps_.writtenSince(key, listedAt);
}

ItemStore::ListingStamp ItemStore::listingStamp() const {
    LockGuard lock(mutex_);
    return stamps_.latest();
}

void ItemStore::replaceChildren(std::optional<std::int64_t> parent, std::span<const DriveFolder> folders,
                                std::span<const DriveFile> files, ListingStamp listedAt) {
    parent = parentIDFromWire(parent);
    std::unordered_set<std::int64_t> listedFolders;
    std::unordered_set<std::int64_t> listedFiles;
    for (const DriveFolder& folder : folders) listedFolders.insert(folder.id);
    for (const DriveFile& file : files) listedFiles.insert(file.id);

    LockGuard lock(mutex_);
    std::vector<DriveFolder> freshFolders;
    std::vector<DriveFile> freshFiles;
    for (auto it = folders_.begin(); it != folders_.end();) {
        const bool gone = sameParent(it->second.parentFolderID, parent) && !listedFolders.contains(it->first);
        it = gone && !newerLocked(folderKey(it->first), listedAt) ? folders_.erase(it) : std::next(it);
    }
    for (auto it = files_.begin(); it != files_.end();) {
        const bool gone = sameParent(it->second.parentFolderID, parent) && !listedFiles.contains(it->first);
        it = gone && !newerLocked(it->first, listedAt) ? files_.erase(it) : std::next(it);
    }
    for (const DriveFolder& folder : folders) {
        if (!newerLocked(folderKey(folder.id), listedAt)) freshFolders.push_back(folder);
    }
    for (const DriveFile& file : files) {
        if (!newerLocked(file.id, listedAt)) freshFiles.push_back(file);
    }
    upsertLocked(freshFolders, freshFiles);
}

std::optional<std::vector<ItemIdentifier>> ItemStore::applyChanges(const DriveChanges& page) {
    std::vector<ItemIdentifier> withdrawn;
    for (const DriveFolder& folder : page.folders) {
        if (folder.isTrashed) withdrawn.push_back(ItemIdentifier::folder(folder.id));
    }
    for (const DriveFile& file : page.files) {
        if (!file.isSynchronizable()) withdrawn.push_back(ItemIdentifier::file(file.id));
    }
    std::optional<PendingWrite> snapshot;
    std::optional<PendingWrite> summary;
    {
        LockGuard lock(mutex_);
        if (page.cursor < cursor_) return std::nullopt;
        upsertLocked(page.folders, page.files);
        cursor_ = page.cursor;
        snapshot = snapshotForImmediateSaveLocked();
        summary_.apply(page.files);
        summary = encodeSummaryLocked();
    }
    persistSnapshot(snapshot);
    write(summaryFile_, summary);
    return withdrawn;
}

void ItemStore::removeFile(std::int64_t id) {
    LockGuard lock(mutex_);
    stamps_.note(id);
    files_.erase(id);
}

void ItemStore::removeFolder(std::int64_t id) {
    LockGuard lock(mutex_);
    stamps_.note(folderKey(id));
    folders_.erase(id);
}

void ItemStore::recordConflict(std::string originalName, std::string copyName) {
    const Date date = now_();
    std::optional<PendingWrite> summary;
    {
        LockGuard lock(mutex_);
        summary_.recordConflict(std::move(originalName), std::move(copyName), date);
        summary = encodeSummaryLocked();
    }
    write(summaryFile_, summary);
}

void ItemStore::save() {
    if (saves_) {
        saves_->request();
    } else {
        saveNow();
    }
}

void ItemStore::flush() {
    if (saves_) saves_->flush();
}

void ItemStore::saveNow() {
    std::optional<PendingWrite> snapshot;
    {
        LockGuard lock(mutex_);
        snapshot = encodeSnapshotLocked();
    }
    write(snapshotFile_, snapshot);
}

std::optional<ItemStore::PendingWrite> ItemStore::snapshotForImmediateSaveLocked() {
    return saves_ ? std::nullopt : encodeSnapshotLocked();
}

void ItemStore::persistSnapshot(const std::optional<PendingWrite>& pending) {
    if (saves_) {
        saves_->request();
    } else {
        write(snapshotFile_, pending);
    }
}

std::optional<ItemStore::PendingWrite> ItemStore::encodeSnapshotLocked() {
    if (!locations_.snapshot) return std::nullopt;
    try {
        std::size_t bytes = 0;
        for (const auto& [id, folder] : folders_) bytes += SnapshotEncoder::rowSize(folder);
        for (const auto& [id, file] : files_) bytes += SnapshotEncoder::rowSize(file);
        for (const auto& [id, file] : withdrawn_) bytes += SnapshotEncoder::rowSize(file);
        SnapshotEncoder encoder(cursor_, bytes);
        for (const auto& [id, folder] : folders_) encoder.addFolder(folder);
        for (const auto& [id, file] : files_) encoder.addFile(file);
        for (const std::int64_t id : withdrawnOrder_) encoder.addWithdrawn(withdrawn_.at(id));
        return PendingWrite{++snapshotGeneration_, encoder.finish()};
    } catch (const std::exception&) {
        return std::nullopt;  // the previous file stays; the next save catches up
    }
}

std::optional<ItemStore::PendingWrite> ItemStore::encodeSummaryLocked() {
    if (!locations_.summary) return std::nullopt;
    try {
        return PendingWrite{++summaryGeneration_, summary_.encoded()};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void ItemStore::write(OrderedFileWriter& file, const std::optional<PendingWrite>& pending) {
    if (pending) file.write(pending->generation, pending->bytes);
}

}  // namespace cadrio
