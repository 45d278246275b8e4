// The uploader's side of the queue of local changes: what goes out, and how
// the drive's answers end the records.
#include "platform/host/replica_sqlite.hpp"

#include <map>
#include <sstream>
#include <utility>

namespace cadrio::host::replica_detail {
namespace {

#define CADRIO_PENDING_ORDERED "SELECT inode FROM pending ORDER BY sequence, inode"

fileprovider::BasicItem outgoingItem(const ReplicaEntry& entry, const ItemIdentifier& parent) {
    fileprovider::BasicItem item;
    item.identifier = entry.identifier;
    item.parent = parent;
    item.name = entry.name;
    item.type = types::ContentType(entry.contentType);
    item.version = entry.version;
    item.itemCapabilities = static_cast<fileprovider::ItemCapabilities>(entry.capabilities);
    if (!entry.isFolder) item.size = entry.size;
    item.created = entry.created;
    item.modified = entry.modified;
    return item;
}

/// The answer to a creation, brought to what the working set saw of the
/// item since.
ItemPtr seenSince(const fileprovider::Item& answer, const ReplicaEntry& seen) {
    auto item = std::make_shared<fileprovider::BasicItem>(fileprovider::BasicItem::copyOf(answer));
    item->parent = seen.parentIdentifier;
    item->name = seen.name;
    item->version = seen.version;
    if (!seen.isFolder) item->size = seen.size;
    if (seen.modified) item->modified = seen.modified;
    return item;
}

ItemPtr seenSince(const fileprovider::Item& answer, const fileprovider::Item& seen) {
    auto item = std::make_shared<fileprovider::BasicItem>(fileprovider::BasicItem::copyOf(answer));
    item->parent = seen.parentItemIdentifier();
    item->name = seen.filename();
    item->version = seen.itemVersion();
    if (seen.documentSize()) item->size = seen.documentSize();
    if (seen.contentModificationDate()) item->modified = seen.contentModificationDate();
    return item;
}

}  // namespace

std::vector<PendingChange> SqliteReplica::pendingChanges() const {
    return guarded([&] {
        LockGuard lock(mutex_);
        std::vector<Inode> inodes;
        auto& query = connection_.statement(CADRIO_PENDING_ORDERED);
        while (query.step()) inodes.push_back(static_cast<Inode>(query.integer(0)));
        std::vector<PendingChange> found;
        // The order comes from an index: a damaged one that quick_check lets
        // through may name a record that is not there.
        for (const Inode inode : inodes) {
            if (auto record = recordLocked(inode)) found.push_back(std::move(*record));
        }
        return found;
    });
}

std::optional<PendingChange> SqliteReplica::pendingChange(Inode inode) const {
    return guarded([&] {
        LockGuard lock(mutex_);
        return recordLocked(inode);
    });
}

std::size_t SqliteReplica::pendingCount() const {
    return guarded([&] {
        LockGuard lock(mutex_);
        auto& query = connection_.statement("SELECT count(*) FROM pending");
        query.step();
        return static_cast<std::size_t>(query.integer(0));
    });
}

bool SqliteReplica::nameStillTaken(Inode inode, const fileprovider::BasicItem& item) const {
    // "mv a b" over a file the drive has: b's deletion goes first, or the
    // drive would see a second item take a name that is still in use.
    auto& query = connection_.statement(
        "SELECT 1 FROM pending WHERE inode <> ? AND base_parent = ? AND base_name = ? AND "
        "((queued | sending) & ?) <> 0 AND refusal IS NULL LIMIT 1");
    query.bind(1, static_cast<std::int64_t>(inode))
        .bind(2, item.parent.rawValue())
        .bind(3, item.name)
        .bind(4, static_cast<std::int64_t>(toBits(LocalChange::deletion)));
    const bool taken = query.step();
    query.reset();
    return taken;
}

bool SqliteReplica::childChangesPending(Inode folder, const ItemIdentifier& identifier) const {
    // "mv d/a . && rm -r d": a's move out of d goes first, and so do the
    // deletions of what d held, for d goes only once empty on the drive.
    auto& query = connection_.statement(
        "SELECT 1 FROM pending WHERE inode <> ? AND base_parent = ? AND ((queued | sending) & ?) <> 0 AND "
        "refusal IS NULL LIMIT 1");
    query.bind(1, static_cast<std::int64_t>(folder))
        .bind(2, identifier.rawValue())
        .bind(3, static_cast<std::int64_t>(toBits(LocalChange::parent | LocalChange::deletion)));
    const bool pending = query.step();
    query.reset();
    return pending;
}

std::optional<OutgoingChange> SqliteReplica::beginSending(Inode inode) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    std::optional<PendingChange> record = recordLocked(inode);
    if (!record || record->queued == LocalChange::none || record->sending != LocalChange::none ||
        record->refusal || record->heldAsScratch)
        return std::nullopt;
    ItemIdentifier identifier = requiredIdentifier(inode);
    if (isProvisional(identifier) && contains(record->queued, LocalChange::deletion) && record->mayAlreadyExist) {
        // Removed here after an attempt whose answer was lost: the listing
        // (brought up to date first) shows whether that attempt is there.
        const std::optional<ItemIdentifier> landed = heldBackFor(inode);
        if (!landed) {
            dropRecord(inode);
            change.commit();
            return std::nullopt;
        }
        // The listing gave the held item an inode of its own, never shown.
        if (const std::optional<Inode> other = knownInode(*landed); other && *other != inode)
            setIdentifier(*other, newProvisionalIdentifier());
        setIdentifier(inode, *landed);
        identifier = *landed;
    }
    if (isProvisional(identifier) && !contains(record->queued, LocalChange::creation))
        return std::nullopt;  // its creation is still under way
    fileprovider::BasicItem item;
    if (contains(record->queued, LocalChange::deletion)) {
        if (record->isFolder && childChangesPending(inode, identifier)) return std::nullopt;
        item.identifier = identifier;
        item.parent = record->baseParent;
        item.name = record->baseName;
        item.version = record->baseVersion;
        if (record->isFolder) item.type = types::ContentType::folder();
    } else {
        const std::optional<ReplicaEntry> entry = entryLocked(inode);
        if (!entry) return std::nullopt;
        const ItemIdentifier parent = requiredIdentifier(entry->parentInode);
        if (isProvisional(parent)) return std::nullopt;
        item = outgoingItem(*entry, parent);
        // A content change or deletion goes under the version last received.
        if (!contains(record->queued, LocalChange::creation)) item.version = record->baseVersion;
        const LocalChange naming = LocalChange::creation | LocalChange::filename | LocalChange::parent;
        if ((record->queued & naming) != LocalChange::none && nameStillTaken(inode, item)) return std::nullopt;
    }
    LocalChange followUp = LocalChange::none;
    const std::optional<Inode> attemptParent = knownInode(record->baseParent);
    if (contains(record->queued, LocalChange::creation) && record->mayAlreadyExist && attemptParent &&
        entryLocked(*attemptParent)) {
        // Looked for under the name and in the folder of the attempt whose
        // answer was lost, where the plug-in can find it; a rename or move
        // made here since follows as a change of its own.
        if (item.name != record->baseName) followUp |= LocalChange::filename;
        if (item.parent.rawValue() != record->baseParent.rawValue()) followUp |= LocalChange::parent;
        item.name = record->baseName;
        item.parent = record->baseParent;
    } else if (contains(record->queued, LocalChange::creation)) {
        // Renames from here on are relative to what the creation sends.
        record->baseName = item.name;
        record->baseParent = item.parent;
    }
    record->sending = record->queued;
    record->queued = followUp;
    if (contains(record->sending, LocalChange::creation) && record->mayAlreadyExist &&
        contains(record->sending, LocalChange::contents)) {
        // A creation whose answer was lost goes again with the bytes of the
        // lost attempt, so that the plug-in recognises them on the drive;
        // what was written since follows as a change of its own.
        record->sending = record->sending & ~LocalChange::contents;
        record->queued |= LocalChange::contents;
    }
    storeRecord(*record);
    change.commit();
    return OutgoingChange{*record, std::move(item)};
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::mergeAnswered(Inode inode, Inode other, std::vector<KernelNotice>& notices) {
    // A listing brought the created item in before the answer did: one item.
    // Unless the user changed that copy too: it is kept as an item of its
    // own, to be created anew, so that nothing written to it is lost.
    if (std::optional<PendingChange> changed = recordLocked(other)) {
        setIdentifier(other, newProvisionalIdentifier());
        if (!entryLocked(other)) return dropRecord(other);
        changed->queued = LocalChange::creation;
        changed->sending = LocalChange::none;
        changed->baseVersion = {};
        changed->heldAsScratch = false;
        storeRecord(*changed);
        return;
    }
    std::vector<ReplicaEntry> moving;
    auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE i.parent = ?");
    query.bind(1, static_cast<std::int64_t>(other));
    while (query.step()) moving.push_back(readEntry(query));
    for (ReplicaEntry& child : moving) {
        const ReplicaEntry previous = child;
        child.parentInode = inode;
        writeUnderFreeName(child);
        noticesFor(previous, child, notices);
    }
    if (const std::optional<ReplicaEntry> gone = entryLocked(other)) {
        notices.push_back({KernelNotice::Kind::deleted, gone->parentInode, other, gone->shownName});
        removeItemRow(other);
    }
    dropRecord(other);
    connection_.statement("DELETE FROM materialised WHERE inode = ?")
        .bind(1, static_cast<std::int64_t>(other))
        .run();
    setIdentifier(other, newProvisionalIdentifier());
}

void SqliteReplica::takeAnswer(Inode inode, const PendingChange& record,
                               const fileprovider::Item& item, std::vector<KernelNotice>& notices) {
    const std::optional<ReplicaEntry> previous = entryLocked(inode);
    if (!previous) return;
    ReplicaEntry next = *previous;
    next.identifier = item.itemIdentifier();
    next.version = item.itemVersion();
    next.capabilities = toBits(item.capabilities());
    if (!next.isFolder) next.contentType = item.contentType().identifier();
    if (item.creationDate()) next.created = item.creationDate();
    // What changed here again meanwhile keeps its local value.
    if (!contains(record.queued, LocalChange::contents) && !next.isFolder) {
        next.size = std::max<std::int64_t>(item.documentSize().value_or(next.size), 0);
        if (item.contentModificationDate()) next.modified = item.contentModificationDate();
    }
    bool moved = false;
    if (!contains(record.queued, LocalChange::filename) && item.filename() != next.name) {
        next.name = item.filename();
        moved = true;
    }
    // A parent the replica no longer shows (a folder the drive deleted,
    // made a creation again here for what waits in it) would hide the item
    // for good: it stays where it is here.
    const std::optional<Inode> answeredParent = knownInode(item.parentItemIdentifier());
    if (!contains(record.queued, LocalChange::parent) &&
        item.parentItemIdentifier().rawValue() != next.parentIdentifier.rawValue() &&
        answeredParent && entryLocked(*answeredParent)) {
        next.parentIdentifier = item.parentItemIdentifier();
        place(next);
        moved = true;
    }
    if (moved) {
        writeUnderFreeName(next);
    } else {
        write(next);
    }
    noticesFor(previous, next, notices);
}

std::vector<KernelNotice> SqliteReplica::finishSending(Inode sent, ItemPtr item, SentBytes sentBytes) try {
    LockGuard lock(mutex_);
    const Inode inode = answeredRecord(sent);
    Change change(connection_, generation_);
    std::optional<PendingChange> record = recordLocked(inode);
    if (!record) return {};
    if (!item) {
        dropRecord(inode);
        return change.commit();
    }
    if (sentBytes == SentBytes::copiedNewerHere && !contains(record->queued, LocalChange::creation)) {
        record->queued |= LocalChange::contents;
    }
    const bool newerStayInConflict = sentBytes != SentBytes::taken && contains(record->queued, LocalChange::contents);
    const fileprovider::ByteString sentBase = record->baseVersion.contentVersion;
    const fileprovider::ByteString answeredContent = item->itemVersion().contentVersion;
    const ItemIdentifier answered = item->itemIdentifier();
    // Held back, the item as a listing showed it since the creation.
    if (const ItemPtr held = takeHeldBack(answered)) item = seenSince(*item, *held);
    if (requiredIdentifier(inode).rawValue() != answered.rawValue()) {
        const std::optional<Inode> other = knownInode(answered);
        if (other && *other != inode) {
            // The working set saw the item after its creation: what it
            // holds (another device may have moved or edited it since) is
            // newer than the answer, and no later change will repeat it.
            const std::optional<ReplicaEntry> seen = recordLocked(*other) ? std::nullopt : entryLocked(*other);
            if (seen) item = seenSince(*item, *seen);
            mergeAnswered(inode, *other, change.notices);
        }
        setIdentifier(inode, answered);
    }
    takeAnswer(inode, *record, *item, change.notices);
    record->sending = LocalChange::none;
    record->baseVersion = item->itemVersion();
    if (newerStayInConflict) {
        record->baseVersion.contentVersion = sentBase;
    } else if (contains(record->queued, LocalChange::contents)) {
        // Bytes written here since the attempt were written on top of the
        // bytes it sent, not of what another device put there meanwhile (a
        // listing seen since): sent on that base they would silently
        // replace it, where they must meet it as a conflict.
        record->baseVersion.contentVersion = answeredContent;
    }
    record->baseName = item->filename();
    record->baseParent = item->parentItemIdentifier();
    record->mayAlreadyExist = false;
    if (deletedLately_.contains(answered.rawValue())) {
        // The drive deleted the item after answering, and the change page
        // that said so came first, when the deletion found nothing to do.
        forgetLocked(*record, record->queued, change.notices);
    } else if (record->queued == LocalChange::none && !record->heldAsScratch) {
        dropRecord(inode);
    } else {
        storeRecord(*record);
    }
    releaseHeldBack(inode, change.notices);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

bool SqliteReplica::requeueSending(PendingChange& r, bool transient) {
    if (contains(r.sending, LocalChange::creation)) {
        // An answer lost on the way may hide a creation the drive carried out.
        if (transient) r.mayAlreadyExist = true;
        // Removed here meanwhile: nothing left to create, but what the
        // attempt may have left on the drive goes (beginSending).
        if (contains(r.queued, LocalChange::deletion)) {
            if (!r.mayAlreadyExist) {
                dropRecord(r.inode);
                return false;
            }
            r.queued = LocalChange::deletion;
            r.sending = LocalChange::none;
            r.refusal.reset();
            storeRecord(r);
            return true;
        }
        // Bytes written during the attempt stay a change of their own: the
        // attempt's bytes go again first (beginSending).
        r.queued = LocalChange::creation | (transient ? r.queued & LocalChange::contents : LocalChange::none);
    } else if (!contains(r.queued, LocalChange::deletion)) {
        r.queued |= r.sending;
    }
    r.sending = LocalChange::none;
    storeRecord(r);
    return true;
}

void SqliteReplica::failSending(Inode sent, std::optional<std::string> refusal) try {
    LockGuard lock(mutex_);
    const Inode inode = answeredRecord(sent);
    Change change(connection_, generation_);
    std::optional<PendingChange> record = recordLocked(inode);
    if (!record || record->sending == LocalChange::none) return;
    record->refusal = std::move(refusal);
    requeueSending(*record, !record->refusal);
    // Refused, the creation is not on the drive: what is held is not it.
    if (record->refusal) releaseHeldBack(inode, change.notices);
    change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<KernelNotice> SqliteReplica::forgetRemoteItem(Inode sent) try {
    LockGuard lock(mutex_);
    const Inode inode = answeredRecord(sent);
    Change change(connection_, generation_);
    const std::optional<PendingChange> record = recordLocked(inode);
    if (!record) return {};
    forgetLocked(*record, record->queued | record->sending, change.notices);
    releaseHeldBack(inode, change.notices);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::forgetLocked(const PendingChange& record, LocalChange wanted, std::vector<KernelNotice>& notices) {
    const Inode inode = record.inode;
    dropRecord(inode);
    if (entryLocked(inode) && !contains(wanted, LocalChange::contents)) deleteSubtree(inode, notices, false);
    // Contents written here, or a folder still holding such: sent anew.
    if (const std::optional<ReplicaEntry> entry = entryLocked(inode)) {
        setIdentifier(inode, newProvisionalIdentifier());
        if (!record.heldAsScratch) {
            PendingChange next = freshRecord(*entry);
            next.sequence = record.sequence;
            next.queued = LocalChange::creation;
            next.baseVersion = {};
            storeRecord(next);
        }
    }
}

void SqliteReplica::rememberDeleted(const ItemIdentifier& identifier) {
    if (!deletedLately_.insert(identifier.rawValue()).second) return;
    deletedOrder_.push_back(identifier.rawValue());
    if (deletedOrder_.size() > kDeletedRemembered) {
        deletedLately_.erase(deletedOrder_.front());
        deletedOrder_.pop_front();
    }
}

bool SqliteReplica::takeListedWhileChanging(const ItemIdentifier& identifier) {
    LockGuard lock(mutex_);
    return listedWhileChanging_.erase(identifier.rawValue()) > 0;
}

std::vector<KernelNotice> SqliteReplica::finishRefusedDeletion(Inode sent, ItemPtr item) try {
    LockGuard lock(mutex_);
    const Inode inode = answeredRecord(sent);
    Change change(connection_, generation_);
    if (hasRecord(inode)) dropRecord(inode);
    upsertAll(std::span(&item, 1), change.notices);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<Inode> SqliteReplica::takeRequeued() {
    LockGuard lock(mutex_);
    return std::exchange(requeued_, {});
}

Inode SqliteReplica::answeredRecord(Inode inode) {
    // Saved again while the send is still on its way: the record moved on
    // once more. Each link goes as it is followed, so a loop ends too.
    Inode holder = inode;
    for (auto found = forwarded_.find(holder); found != forwarded_.end(); found = forwarded_.find(holder)) {
        holder = found->second;
        forwarded_.erase(found);
    }
    return holder;
}

bool SqliteReplica::recreateFolderLocked(Inode folder) {
    const std::optional<ReplicaEntry> entry = entryLocked(folder);
    if (folder == kFuseRootInode || !entry || !entry->isFolder || isProvisional(entry->identifier)) return false;
    const std::optional<PendingChange> record = recordLocked(folder);
    setIdentifier(folder, newProvisionalIdentifier());
    PendingChange next = freshRecord(*entryLocked(folder));
    if (record) next.sequence = record->sequence;
    next.queued = LocalChange::creation;
    next.baseVersion = {};
    storeRecord(next);
    requeued_.push_back(folder);
    return true;
}

void SqliteReplica::keepLocalOnly(Inode sent) try {
    LockGuard lock(mutex_);
    const Inode inode = answeredRecord(sent);
    Change change(connection_, generation_);
    dropRecord(inode);
    if (entryLocked(inode) && !isProvisional(requiredIdentifier(inode)))
        setIdentifier(inode, newProvisionalIdentifier());
    releaseHeldBack(inode, change.notices);
    change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

namespace {

using Interrupted = std::map<Inode, std::int64_t>;  // inode, seconds since 1970 when found in flight

/// "inode seconds" per line; anything else is skipped.
Interrupted parseInterrupted(const std::string& text) {
    Interrupted interrupted;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Inode inode = 0;
        std::int64_t seconds = 0;
        if (fields >> inode >> seconds && inode != 0) interrupted[inode] = seconds;
    }
    return interrupted;
}

std::string formatInterrupted(const Interrupted& interrupted) {
    std::string text;
    for (const auto& [inode, seconds] : interrupted) text += std::to_string(inode) + ' ' + std::to_string(seconds) + '\n';
    return text;
}

}  // namespace

std::vector<Inode> SqliteReplica::resumeSending(fileprovider::Date now, std::chrono::seconds window) try {
    LockGuard lock(mutex_);
    forwarded_.clear();
    Change change(connection_, generation_);
    const std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    Interrupted interrupted;
    {
        auto& read = connection_.statement("SELECT value FROM state WHERE key = 'interrupted'");
        if (read.step()) interrupted = parseInterrupted(read.bytes(0));
        read.reset();
    }
    for (auto it = interrupted.begin(); it != interrupted.end();) {
        const bool stale = it->second > seconds || seconds - it->second >= window.count() || !hasRecord(it->first);
        it = stale ? interrupted.erase(it) : std::next(it);
    }
    std::vector<Inode> sending;
    auto& query = connection_.statement("SELECT inode FROM pending WHERE sending <> 0");
    while (query.step()) sending.push_back(static_cast<Inode>(query.integer(0)));
    query.reset();
    for (const Inode inode : sending) {
        PendingChange record = *recordLocked(inode);
        requeueSending(record, true);
        interrupted[inode] = seconds;
    }
    connection_.statement("INSERT OR REPLACE INTO state(key, value) VALUES ('interrupted', ?)")
        .bind(1, formatInterrupted(interrupted))
        .run();
    change.commit();
    std::vector<Inode> inodes;
    for (const auto& [inode, since] : interrupted) inodes.push_back(inode);
    return inodes;
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

}  // namespace cadrio::host::replica_detail
