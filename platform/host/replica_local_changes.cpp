// The user's side of the queue of local changes: each change of the items
// and its record in one transaction.
#include "platform/host/replica_sqlite.hpp"

namespace cadrio::host::replica_detail {
namespace {

constexpr auto kLocalCapabilities =
    fileprovider::ItemCapabilities::allowsReading | fileprovider::ItemCapabilities::allowsWriting |
    fileprovider::ItemCapabilities::allowsReparenting |
    fileprovider::ItemCapabilities::allowsRenaming | fileprovider::ItemCapabilities::allowsDeleting;

#define CADRIO_PENDING_COLUMNS                                                                     \
    "SELECT inode, sequence, queued, sending, base_content_version, base_metadata_version, "       \
    "base_name, base_parent, is_folder, may_already_exist, held_as_scratch, refusal IS NOT NULL, " \
    "refusal, aside_name IS NOT NULL, aside_name, aside_parent FROM pending "

PendingChange readRecord(const Statement& row) {
    PendingChange record;
    record.inode = static_cast<Inode>(row.integer(0));
    record.sequence = row.integer(1);
    record.queued = static_cast<LocalChange>(row.integer(2));
    record.sending = static_cast<LocalChange>(row.integer(3));
    record.baseVersion = {row.bytes(4), row.bytes(5)};
    record.baseName = row.bytes(6);
    record.baseParent = ItemIdentifier(row.bytes(7));
    record.isFolder = row.integer(8) != 0;
    record.mayAlreadyExist = row.integer(9) != 0;
    record.heldAsScratch = row.integer(10) != 0;
    if (row.integer(11) != 0) record.refusal = row.bytes(12);
    if (row.integer(13) != 0) {
        record.asideName = row.bytes(14);
        record.asideParent = static_cast<Inode>(row.integer(15));
    }
    return record;
}

std::int64_t bits(LocalChange change) {
    return static_cast<std::int64_t>(toBits(change));
}

/// A creation the plug-in has not been handed yet: nothing of the item is
/// on the drive.
/// Only here: never sent, or sent without reaching the drive for sure (a
/// creation whose answer was lost may be there).
bool unsentCreation(const std::optional<PendingChange>& record, const ItemIdentifier& identifier) {
    if (!isProvisional(identifier)) return false;
    return !record || (contains(record->queued, LocalChange::creation) &&
                       record->sending == LocalChange::none && !record->mayAlreadyExist);
}

}  // namespace

std::optional<PendingChange> SqliteReplica::recordLocked(Inode inode) const {
    auto& query = connection_.statement(CADRIO_PENDING_COLUMNS "WHERE inode = ?");
    query.bind(1, static_cast<std::int64_t>(inode));
    if (!query.step()) return std::nullopt;
    return readRecord(query);
}

void SqliteReplica::storeRecord(const PendingChange& r) {
    stamp(r.inode);
    auto& store = connection_.statement(
        "INSERT OR REPLACE INTO pending(inode, sequence, queued, sending, base_content_version, "
        "base_metadata_version, base_name, base_parent, is_folder, may_already_exist, "
        "held_as_scratch, refusal, aside_name, aside_parent) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    store.bind(1, static_cast<std::int64_t>(r.inode))
        .bind(2, r.sequence)
        .bind(3, bits(r.queued))
        .bind(4, bits(r.sending))
        .bind(5, r.baseVersion.contentVersion)
        .bind(6, r.baseVersion.metadataVersion)
        .bind(7, r.baseName)
        .bind(8, r.baseParent.rawValue())
        .bind(9, std::int64_t{r.isFolder})
        .bind(10, std::int64_t{r.mayAlreadyExist})
        .bind(11, std::int64_t{r.heldAsScratch});
    if (r.refusal) {
        store.bindText(12, *r.refusal);
    } else {
        store.bindNull(12);
    }
    if (r.asideName) {
        store.bind(13, *r.asideName).bind(14, static_cast<std::int64_t>(r.asideParent));
    } else {
        store.bindNull(13).bindNull(14);
    }
    store.run();
}

void SqliteReplica::dropRecord(Inode inode) {
    stamp(inode);
    connection_.statement("DELETE FROM pending WHERE inode = ?")
        .bind(1, static_cast<std::int64_t>(inode))
        .run();
}

PendingChange SqliteReplica::freshRecord(const ReplicaEntry& entry) {
    auto& next = connection_.statement("SELECT coalesce(max(sequence), 0) + 1 FROM pending");
    next.step();
    PendingChange record;
    record.inode = entry.inode;
    record.sequence = next.integer(0);
    record.baseVersion = entry.version;
    record.baseName = entry.name;
    record.baseParent = entry.parentIdentifier;
    record.isFolder = entry.isFolder;
    return record;
}

std::optional<Inode> SqliteReplica::childInode(Inode parent, std::string_view shownName) const {
    auto& query =
        connection_.statement("SELECT inode FROM items WHERE parent = ? AND shown_name = ?");
    query.bind(1, static_cast<std::int64_t>(parent)).bind(2, shownName);
    if (!query.step()) return std::nullopt;
    return static_cast<Inode>(query.integer(0));
}

std::optional<ItemIdentifier> SqliteReplica::identifierOf(Inode inode) const {
    auto& query = connection_.statement("SELECT identifier FROM inodes WHERE inode = ?");
    query.bind(1, static_cast<std::int64_t>(inode));
    if (!query.step()) return std::nullopt;
    return ItemIdentifier(query.bytes(0));
}

ItemIdentifier SqliteReplica::requiredIdentifier(Inode inode) const {
    std::optional<ItemIdentifier> identifier = identifierOf(inode);
    if (!identifier) throw ReplicaError("replica: an item without an identifier");
    return std::move(*identifier);
}

void SqliteReplica::setIdentifier(Inode inode, const ItemIdentifier& identifier) {
    stamp(inode);
    connection_.statement("UPDATE inodes SET identifier = ? WHERE inode = ?")
        .bind(1, identifier.rawValue())
        .bind(2, static_cast<std::int64_t>(inode))
        .run();
    connection_.statement("UPDATE items SET parent_identifier = ? WHERE parent = ?")
        .bind(1, identifier.rawValue())
        .bind(2, static_cast<std::int64_t>(inode))
        .run();
}

void SqliteReplica::takeIdentity(Inode from, Inode to) {
    const ItemIdentifier taken = requiredIdentifier(from);
    setIdentifier(from, newProvisionalIdentifier());
    setIdentifier(to, taken);
}

void SqliteReplica::removeItemRow(Inode inode) {
    stamp(inode);
    connection_.statement("DELETE FROM items WHERE inode = ?")
        .bind(1, static_cast<std::int64_t>(inode))
        .run();
}

void SqliteReplica::removeLocked(Inode inode) {
    const std::optional<ReplicaEntry> entry = entryLocked(inode);
    if (!entry || inode == kFuseRootInode) throw ReplicaError("replica: no such item");
    // Removing a folder's row alone would leave its children unreachable.
    auto& below = connection_.statement("SELECT 1 FROM items WHERE parent = ? LIMIT 1");
    below.bind(1, static_cast<std::int64_t>(inode));
    const bool holdsItems = below.step();
    below.reset();
    if (holdsItems) throw ReplicaError("replica: the folder is not empty");
    std::optional<PendingChange> record = recordLocked(inode);
    removeItemRow(inode);
    if (unsentCreation(record, entry->identifier)) return dropRecord(inode);
    PendingChange next = record ? *record : freshRecord(*entry);
    if (!next.heldAsScratch) {
        next.asideName = entry->name;
        next.asideParent = entry->parentInode;
    }
    next.queued = LocalChange::deletion;
    next.heldAsScratch = false;
    next.refusal.reset();
    storeRecord(next);
}

void SqliteReplica::noteMove(PendingChange& r, const ReplicaEntry& moved, bool scratch) {
    if (!scratch) {
        r.asideName.reset();
        r.asideParent = 0;
    }
    r.heldAsScratch = scratch;
    r.refusal.reset();
    if (contains(r.queued, LocalChange::creation)) return;  // sends the current name
    const auto follow = [&](LocalChange bit, bool differs) {
        if (differs) {
            r.queued |= bit;
        } else if (!contains(r.sending, bit)) {
            // Back where the drive has it; with a send in flight the drive may
            // soon hold another name, so the bit stays.
            r.queued &= ~bit;
        }
    };
    follow(LocalChange::filename, moved.name != r.baseName);
    follow(LocalChange::parent, moved.parentIdentifier.rawValue() != r.baseParent.rawValue());
}

bool SqliteReplica::takeOverSetAside(const ReplicaEntry& made) {
    // An editor moved the original aside to a scratch name, or removed it,
    // before writing it anew: the new file is the original, and the drive
    // sees a new version of it rather than a deletion racing a creation.
    // The original's own change may be on its way: its answer then comes
    // for the original's inode and is forwarded to the new file's record.
    // A rename or move of the original not yet sent goes with it.
    auto& aside = connection_.statement(
        "SELECT p.inode FROM pending p LEFT JOIN items i ON i.inode = p.inode WHERE "
        "p.inode <> ?5 AND p.is_folder = 0 AND p.may_already_exist = 0 AND "
        "coalesce(p.aside_name, p.base_name) = ?1 AND "
        "(p.aside_parent = ?3 OR (p.aside_name IS NULL AND p.base_parent = ?2)) AND "
        "((p.held_as_scratch = 1 AND i.parent = ?3) OR (i.inode IS NULL AND p.queued = ?4)) "
        "ORDER BY p.sequence LIMIT 1");
    aside.bind(1, made.name)
        .bind(2, made.parentIdentifier.rawValue())
        .bind(3, static_cast<std::int64_t>(made.parentInode))
        .bind(4, bits(LocalChange::deletion))
        .bind(5, static_cast<std::int64_t>(made.inode));
    const std::optional<Inode> original =
        aside.step() ? std::optional(static_cast<Inode>(aside.integer(0))) : std::nullopt;
    aside.reset();
    if (!original) return false;
    PendingChange record = *recordLocked(*original);
    dropRecord(*original);
    dropRecord(made.inode);
    takeIdentity(*original, made.inode);
    if (record.sending != LocalChange::none) forwarded_[*original] = made.inode;
    record.inode = made.inode;
    record.queued = LocalChange::contents;
    noteMove(record, made, false);
    storeRecord(record);
    return true;
}

ReplicaEntry SqliteReplica::createLocal(Inode parent, std::string_view name, bool isFolder,
                                        fileprovider::Date created, bool queued) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    const std::optional<ReplicaEntry> folder = entryLocked(parent);
    if (!folder || !folder->isFolder) throw ReplicaError("replica: no folder to create in");
    if (childInode(parent, name)) throw ReplicaError("replica: a sibling holds the name");
    ReplicaEntry made;
    made.identifier = newProvisionalIdentifier();
    made.inode = inodeOfLocked(made.identifier);
    made.parentInode = parent;
    made.parentIdentifier = folder->identifier;
    made.name = made.shownName = std::string(name);
    made.isFolder = isFolder;
    made.created = made.modified = created;
    made.capabilities = toBits(kLocalCapabilities);
    made.contentType =
        (isFolder ? types::ContentType::folder() : types::ContentType::data()).identifier();
    made.childrenListed = isFolder;  // nothing of it elsewhere to list
    write(made);

    if (queued && !(!isFolder && takeOverSetAside(made))) {
        PendingChange record = freshRecord(made);
        record.queued = LocalChange::creation;
        record.baseVersion = {};
        storeRecord(record);
    }
    std::optional<ReplicaEntry> result = entryLocked(made.inode);
    change.commit();
    return *result;
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::recordContentChange(Inode file, std::int64_t size,
                                        fileprovider::Date modified) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    const std::optional<ReplicaEntry> entry = entryLocked(file);
    if (!entry || entry->isFolder) throw ReplicaError("replica: no such file");
    connection_.statement("UPDATE items SET size = ?, modified = ? WHERE inode = ?")
        .bind(1, std::max<std::int64_t>(size, 0))
        .bind(2, nanoseconds(modified))
        .bind(3, static_cast<std::int64_t>(file))
        .run();
    std::optional<PendingChange> record = recordLocked(file);
    if (record || !isProvisional(entry->identifier)) {
        PendingChange next = record ? *record : freshRecord(*entry);
        // A creation carries the file's bytes, except one whose answer was
        // lost: it goes again with the bytes of that attempt (beginSending).
        if (!contains(next.queued, LocalChange::creation) || next.mayAlreadyExist) next.queued |= LocalChange::contents;
        next.refusal.reset();
        storeRecord(next);
    }
    change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::optional<Inode> SqliteReplica::renameLocal(Inode inode, Inode newParent,
                                                std::string_view newName,
                                                bool newNameIsScratch) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    std::optional<ReplicaEntry> entry = entryLocked(inode);
    const std::optional<ReplicaEntry> folder = entryLocked(newParent);
    if (!entry || inode == kFuseRootInode) throw ReplicaError("replica: no such item");
    if (!folder || !folder->isFolder) throw ReplicaError("replica: no folder to move into");
    if (entry->parentInode == newParent && entry->shownName == newName) return std::nullopt;
    if (entry->isFolder && wouldCycle(inode, newParent))
        throw ReplicaError("replica: a folder cannot go below itself");
    // Scratch names are the editors' files; a folder is sent whatever its name.
    newNameIsScratch = newNameIsScratch && !entry->isFolder;
    std::optional<PendingChange> record = recordLocked(inode);
    const std::optional<Inode> replaced = childInode(newParent, newName);
    if (replaced) {
        const ReplicaEntry target = *entryLocked(*replaced);
        const std::optional<PendingChange> targetRecord = recordLocked(*replaced);
        // A creation whose answer was lost may be on the drive: replaced, it
        // would be deleted there, with whatever another device did to it.
        const bool targetMayHaveLanded = isProvisional(target.identifier) && targetRecord &&
                                         targetRecord->mayAlreadyExist && targetRecord->sending == LocalChange::none &&
                                         contains(targetRecord->queued, LocalChange::creation);
        const bool takeOver =
            !newNameIsScratch && !entry->isFolder && !target.isFolder &&
            unsentCreation(record, entry->identifier) &&
            (!isProvisional(target.identifier) || targetMayHaveLanded) &&
            (!targetRecord || !contains(targetRecord->queued, LocalChange::deletion));
        if (takeOver) {
            // Written beside, renamed over: a new version of the target. Its
            // own change may be on its way: the answer is forwarded here.
            PendingChange next = targetRecord ? *targetRecord : freshRecord(target);
            if (next.sending != LocalChange::none) forwarded_[*replaced] = inode;
            next.inode = inode;
            next.queued = LocalChange::contents | (next.queued & ~LocalChange::contents);
            dropRecord(*replaced);
            removeItemRow(*replaced);
            takeIdentity(*replaced, inode);
            connection_
                .statement(
                    "UPDATE items SET content_version = ?, metadata_version = ?, capabilities = ?, "
                    "created = ? WHERE inode = ?")
                .bind(1, target.version.contentVersion)
                .bind(2, target.version.metadataVersion)
                .bind(3, static_cast<std::int64_t>(target.capabilities))
                .bind(4, nanoseconds(target.created))
                .bind(5, static_cast<std::int64_t>(inode))
                .run();
            entry = entryLocked(inode);
            record = next;
        } else {
            removeLocked(*replaced);
            if (!recordLocked(*replaced)) releaseHeldBack(*replaced, change.notices);
        }
    }
    connection_
        .statement(
            "UPDATE items SET parent = ?, parent_identifier = ?, name = ?, shown_name = ? WHERE "
            "inode = ?")
        .bind(1, static_cast<std::int64_t>(newParent))
        .bind(2, folder->identifier.rawValue())
        .bind(3, newName)
        .bind(4, newName)
        .bind(5, static_cast<std::int64_t>(inode))
        .run();
    const ReplicaEntry moved = *entryLocked(inode);
    if (unsentCreation(record, moved.identifier)) {
        // Only here so far: a scratch name keeps it here, another name sends it.
        if (newNameIsScratch) {
            dropRecord(inode);
        } else if (!record) {
            PendingChange next = freshRecord(moved);
            next.queued = LocalChange::creation;
            next.baseVersion = {};
            storeRecord(next);
        }
    } else {
        PendingChange next = record ? *record : freshRecord(*entry);
        const bool goesAside = newNameIsScratch && !next.heldAsScratch;
        noteMove(next, moved, newNameIsScratch);
        if (goesAside) {
            next.asideName = entry->name;
            next.asideParent = entry->parentInode;
        }
        if (next.queued == LocalChange::none && next.sending == LocalChange::none &&
            !next.heldAsScratch) {
            dropRecord(inode);
        } else {
            storeRecord(next);
        }
    }
    change.commit();
    return replaced;
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::removeLocal(Inode inode) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    removeLocked(inode);
    // Gone before it was sent: what a listing brought under its name is not
    // it. A creation on its way still gets its answer, which settles them.
    if (!recordLocked(inode)) releaseHeldBack(inode, change.notices);
    change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

}  // namespace cadrio::host::replica_detail
