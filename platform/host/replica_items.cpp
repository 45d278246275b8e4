// How one item is stored, placed and removed, and the schema it lives in.
#include <unordered_map>
#include <unordered_set>

#include "platform/host/replica_sqlite.hpp"
#include "platform/host/shown_names.hpp"

namespace cadrio::host::replica_detail {
namespace {

constexpr std::int64_t kSchemaVersion = 3;
// Deeper than any real tree; a longer parent chain is treated as a cycle.
constexpr int kMaxDepth = 4096;
constexpr unsigned kMaxNameCandidates = 1000;

const char* const kSchema = R"(
CREATE TABLE inodes(inode INTEGER PRIMARY KEY AUTOINCREMENT, identifier BLOB NOT NULL UNIQUE);
CREATE TABLE items(
  inode INTEGER PRIMARY KEY, parent INTEGER NOT NULL, parent_identifier BLOB NOT NULL,
  name BLOB NOT NULL, shown_name BLOB NOT NULL, is_folder INTEGER NOT NULL, size INTEGER NOT NULL,
  created INTEGER, modified INTEGER, content_version BLOB NOT NULL, metadata_version BLOB NOT NULL,
  capabilities INTEGER NOT NULL, content_type TEXT NOT NULL, children_listed INTEGER NOT NULL,
  generation INTEGER NOT NULL);
CREATE UNIQUE INDEX items_by_shown_name ON items(parent, shown_name);
CREATE INDEX items_by_parent ON items(parent, inode);
CREATE TABLE state(key TEXT PRIMARY KEY, value BLOB);
CREATE TABLE materialised(inode INTEGER PRIMARY KEY, content_version BLOB NOT NULL, size INTEGER NOT NULL,
  last_used INTEGER NOT NULL);
CREATE INDEX materialised_by_age ON materialised(last_used, inode);
)";

// Version 2: the queue of local changes, one record per inode.
const char* const kPendingSchema = R"(
CREATE TABLE pending(inode INTEGER PRIMARY KEY, sequence INTEGER NOT NULL, queued INTEGER NOT NULL,
  sending INTEGER NOT NULL, base_content_version BLOB NOT NULL, base_metadata_version BLOB NOT NULL,
  base_name BLOB NOT NULL, base_parent BLOB NOT NULL, is_folder INTEGER NOT NULL,
  may_already_exist INTEGER NOT NULL, held_as_scratch INTEGER NOT NULL, refusal TEXT);
CREATE INDEX pending_by_sequence ON pending(sequence);
)";
// Version 3: where a file set aside or removed was.
const char* const kAsideColumns = R"(
ALTER TABLE pending ADD COLUMN aside_name BLOB;
ALTER TABLE pending ADD COLUMN aside_parent INTEGER;
)";

}  // namespace

void SqliteReplica::prepareSchema() {
    auto& check = connection_.statement("PRAGMA quick_check");
    if (!check.step() || check.bytes(0) != "ok") throw LayoutMismatch("the database is damaged");
    check.reset();
    auto& version = connection_.statement("PRAGMA user_version");
    version.step();
    const std::int64_t found = version.integer(0);
    version.reset();
    auto& tables = connection_.statement(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
        "('inodes', 'items', 'state', 'materialised', 'pending')");
    tables.step();
    const std::int64_t known = tables.integer(0);
    tables.reset();
    if (found == kSchemaVersion && known == 5) return requireInodeKeys(true);
    // The user's replica of an earlier layout; from the first, its queue
    // starts empty.
    if ((found == 1 && known == 4) || (found == 2 && known == 5)) {
        requireInodeKeys(found == 2);
        return upgradeSchema(found);
    }
    auto& any = connection_.statement("SELECT count(*) FROM sqlite_master");
    any.step();
    const bool empty = found == 0 && any.integer(0) == 0;
    any.reset();
    if (!empty) throw LayoutMismatch("the database is not a replica of this layout");
    createSchema();
}

// Every row is found by its inode, the tables' row key. Tables that name our
// columns but key them otherwise (a damaged or foreign schema) would give
// entries without an inode; like quick_check, this reads every row.
void SqliteReplica::requireInodeKeys(bool withQueue) {
    const char* const query =
        withQueue ? "SELECT EXISTS(SELECT 1 FROM items NOT INDEXED WHERE inode IS NOT rowid) "
                    "OR EXISTS(SELECT 1 FROM inodes NOT INDEXED WHERE inode IS NOT rowid) "
                    "OR EXISTS(SELECT 1 FROM materialised NOT INDEXED WHERE inode IS NOT rowid) "
                    "OR EXISTS(SELECT 1 FROM pending NOT INDEXED WHERE inode IS NOT rowid)"
                  : "SELECT EXISTS(SELECT 1 FROM items NOT INDEXED WHERE inode IS NOT rowid) "
                    "OR EXISTS(SELECT 1 FROM inodes NOT INDEXED WHERE inode IS NOT rowid) "
                    "OR EXISTS(SELECT 1 FROM materialised NOT INDEXED WHERE inode IS NOT rowid)";
    bool mismatch = true;
    try {
        auto& check = connection_.statement(query);
        mismatch = !check.step() || check.integer(0) != 0;
        check.reset();
    } catch (const sqlite::SqliteError& error) {
        // A table without row ids has no such key at all.
        if (error.meansDamagedFile()) throw;
    }
    if (mismatch) throw LayoutMismatch("the database's tables are not keyed by inode");
}

void SqliteReplica::setSchemaVersion() {
    connection_.execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

void SqliteReplica::upgradeSchema(std::int64_t from) {
    sqlite::Transaction transaction(connection_);
    if (from < 2) connection_.execute(kPendingSchema);
    connection_.execute(kAsideColumns);
    setSchemaVersion();
    transaction.commit();
}

void SqliteReplica::createSchema() {
    sqlite::Transaction transaction(connection_);
    connection_.execute(kSchema);
    connection_.execute(kPendingSchema);
    connection_.execute(kAsideColumns);
    const std::string root(ItemIdentifier::rootContainerRawValue);
    connection_.statement("INSERT INTO inodes(inode, identifier) VALUES (1, ?)")
        .bind(1, root)
        .run();
    connection_
        .statement(
            "INSERT INTO items(inode, parent, parent_identifier, name, shown_name, is_folder, "
            "size, "
            "content_version, metadata_version, capabilities, content_type, children_listed, "
            "generation) "
            "VALUES (1, 0, ?, '', '', 1, 0, '', '', 0, ?, 0, 0)")
        .bind(1, root)
        .bindText(2, types::ContentType::folder().identifier())
        .run();
    setSchemaVersion();
    transaction.commit();
}

std::optional<ReplicaEntry> SqliteReplica::entryLocked(Inode inode) const {
    auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE i.inode = ?");
    query.bind(1, static_cast<std::int64_t>(inode));
    if (!query.step()) return std::nullopt;
    return readEntry(query);
}

std::optional<Inode> SqliteReplica::knownInode(const ItemIdentifier& identifier) {
    auto& query = connection_.statement("SELECT inode FROM inodes WHERE identifier = ?");
    query.bind(1, identifier.rawValue());
    if (!query.step()) return std::nullopt;
    return static_cast<Inode>(query.integer(0));
}

Inode SqliteReplica::inodeOfLocked(const ItemIdentifier& identifier) {
    if (const auto known = knownInode(identifier)) return *known;
    connection_.statement("INSERT INTO inodes(identifier) VALUES (?)")
        .bind(1, identifier.rawValue())
        .run();
    return static_cast<Inode>(connection_.lastInsertRowid());
}

void SqliteReplica::storeAnchor(const fileprovider::SyncAnchor& anchor) {
    connection_.statement("INSERT OR REPLACE INTO state(key, value) VALUES ('anchor', ?)")
        .bind(1, anchor.bytes)
        .run();
}

void SqliteReplica::storeGeneration() {
    connection_.statement("INSERT OR REPLACE INTO state(key, value) VALUES ('generation', ?)")
        .bind(1, generation_)
        .run();
}

void SqliteReplica::logOnce(std::string_view what, const ItemIdentifier& identifier) {
    if (loggedItems_.insert(std::string(what) + '\n' + identifier.rawValue()).second) {
        logger_.notice("Réplique : {} ({})", std::string(what), identifier.rawValue());
    }
}

/// Inserts or updates every item, the last of duplicates winning, and
/// returns their inodes.
std::vector<Inode> SqliteReplica::upsertAll(std::span<const ItemPtr> items,
                                            std::vector<KernelNotice>& notices,
                                            std::optional<ListingStamp> listedAt) {
    std::vector<Inode> inodes;
    std::unordered_set<std::string> seen;
    for (const ItemPtr& item : items) {
        if (!item) continue;
        const ItemIdentifier identifier = item->itemIdentifier();
        if (!seen.insert(identifier.rawValue()).second)
            logOnce("identifiant en double", identifier);
        if (const auto inode = upsert(*item, notices, listedAt)) inodes.push_back(*inode);
    }
    return inodes;
}

std::optional<Inode> SqliteReplica::upsert(const fileprovider::Item& item,
                                           std::vector<KernelNotice>& notices,
                                           std::optional<ListingStamp> listedAt) {
    const ItemIdentifier identifier = item.itemIdentifier();
    if (identifier.isWorkingSet() || identifier.isTrashContainer() ||
        identifier.rawValue().empty()) {
        logOnce("identifiant réservé ignoré", identifier);
        return std::nullopt;
    }
    ReplicaEntry next;
    next.identifier = identifier;
    next.parentIdentifier = item.parentItemIdentifier();
    next.name = item.filename();
    next.contentType = item.contentType().identifier();
    next.isFolder =
        identifier.isRootContainer() || item.contentType() == types::ContentType::folder();
    next.size = item.documentSize().value_or(0);
    if (next.size < 0) {
        logOnce("taille négative affichée comme 0", identifier);
        next.size = 0;
    }
    next.created = item.creationDate();
    next.modified = item.contentModificationDate();
    next.version = item.itemVersion();
    next.capabilities = static_cast<std::uint64_t>(item.capabilities());
    next.inode = inodeOfLocked(identifier);
    // The answer to the local change brings the drive's state in.
    if (hasRecord(next.inode)) {
        listedWhileChanging_.insert(identifier.rawValue());
        return next.inode;
    }
    if (listedAt && writtenSince(next.inode, *listedAt)) return next.inode;

    const std::optional<ReplicaEntry> previous = entryLocked(next.inode);
    if (identifier.isRootContainer()) {
        next.parentInode = 0;
        next.parentIdentifier = identifier;
        next.shownName.clear();
    } else {
        place(next);
        if (!previous && holdBack(item, next)) return std::nullopt;
    }
    next.childrenListed = previous && previous->childrenListed;
    if (identifier.isRootContainer()) {
        write(next);
    } else {
        writeUnderFreeName(next);
    }
    noticesFor(previous, next, notices);
    if (previous && (previous->parentInode != next.parentInode || previous->shownName != next.shownName))
        hostLogger().debug("{} déplacé ou renommé d'après le Cadrio (inode {})", identifier.rawValue(), next.inode);
    return next.inode;
}

/// Chooses the parent: the root when the item's own would make a cycle.
void SqliteReplica::place(ReplicaEntry& next) {
    next.parentInode = inodeOfLocked(next.parentIdentifier);
    // Only a folder can close a cycle that a lookup would walk.
    if (next.parentInode == next.inode ||
        (next.isFolder && wouldCycle(next.inode, next.parentInode))) {
        logOnce("élément dans un cycle, montré à la racine", next.identifier);
        next.parentInode = kFuseRootInode;
        next.parentIdentifier = ItemIdentifier::rootContainer();
    }
}

/// Writes the item under the first of its candidate names that no
/// sibling holds; the unique index on (parent, shown name) answers.
void SqliteReplica::writeUnderFreeName(ReplicaEntry& next) {
    for (unsigned candidate = 0; candidate < kMaxNameCandidates; ++candidate) {
        next.shownName = shownName(next.name, next.identifier.rawValue(), candidate);
        try {
            return write(next);
        } catch (const sqlite::SqliteError& error) {
            if (error.code() != SQLITE_CONSTRAINT) throw;
        }
    }
    throw sqlite::SqliteError(SQLITE_CONSTRAINT, "no free name for an item");
}

bool SqliteReplica::wouldCycle(Inode self, Inode parent) {
    Inode current = parent;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        if (current == self) return true;
        if (current == kFuseRootInode || current == 0) return false;
        auto& up = connection_.statement("SELECT parent FROM items WHERE inode = ?");
        up.bind(1, static_cast<std::int64_t>(current));
        if (!up.step()) return false;  // an ancestor not heard of yet
        current = static_cast<Inode>(up.integer(0));
    }
    return true;
}

void SqliteReplica::stamp(Inode inode) {
    stamps_.note(inode);
}

bool SqliteReplica::writtenSince(Inode inode, ListingStamp listedAt) {
    if (!stamps_.known(listedAt)) return entryLocked(inode).has_value();
    return stamps_.writtenSince(inode, listedAt);
}

void SqliteReplica::write(const ReplicaEntry& e) {
    stamp(e.inode);
    connection_
        .statement(
            "INSERT INTO items(inode, parent, parent_identifier, name, shown_name, is_folder, "
            "size, created, "
            "modified, content_version, metadata_version, capabilities, content_type, "
            "children_listed, "
            "generation) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
            "?15) "
            "ON CONFLICT(inode) DO UPDATE SET parent = ?2, parent_identifier = ?3, name = ?4, "
            "shown_name = ?5, "
            "is_folder = ?6, size = ?7, created = ?8, modified = ?9, content_version = ?10, "
            "metadata_version = ?11, capabilities = ?12, content_type = ?13, children_listed = "
            "?14, "
            "generation = ?15")
        .bind(1, static_cast<std::int64_t>(e.inode))
        .bind(2, static_cast<std::int64_t>(e.parentInode))
        .bind(3, e.parentIdentifier.rawValue())
        .bind(4, e.name)
        .bind(5, e.shownName)
        .bind(6, std::int64_t{e.isFolder})
        .bind(7, e.size)
        .bind(8, nanoseconds(e.created))
        .bind(9, nanoseconds(e.modified))
        .bind(10, e.version.contentVersion)
        .bind(11, e.version.metadataVersion)
        .bind(12, static_cast<std::int64_t>(e.capabilities))
        .bindText(13, e.contentType)
        .bind(14, std::int64_t{e.childrenListed})
        .bind(15, generation_)
        .run();
}

void SqliteReplica::noticesFor(const std::optional<ReplicaEntry>& previous,
                               const ReplicaEntry& next, std::vector<KernelNotice>& notices) {
    using Kind = KernelNotice::Kind;
    const Inode parent = next.parentInode == 0 ? kFuseRootInode : next.parentInode;
    if (!previous) {
        // The kernel holds no entry under a name that was free (a lookup
        // that failed is not cached): only the folder's listing is stale.
        if (next.inode != kFuseRootInode) notices.push_back({Kind::inode, 0, parent, {}});
        return;
    }
    if (next.inode != kFuseRootInode &&
        (previous->parentInode != parent || previous->shownName != next.shownName)) {
        notices.push_back({Kind::entry, previous->parentInode, 0, previous->shownName});
        notices.push_back({Kind::entry, parent, 0, next.shownName});
    }
    if (previous->version.contentVersion != next.version.contentVersion ||
        previous->size != next.size || previous->modified != next.modified ||
        previous->created != next.created || previous->capabilities != next.capabilities) {
        notices.push_back({Kind::inode, 0, next.inode, {}});
    }
}

/// Removes `inode` and everything below it.
void SqliteReplica::deleteSubtree(Inode inode, std::vector<KernelNotice>& notices, bool drivesWord) {
    auto& query = connection_.statement(
        "WITH RECURSIVE below(inode) AS (SELECT ?1 UNION SELECT items.inode FROM items JOIN "
        "below ON items.parent = below.inode) SELECT items.inode, items.parent, items.shown_name "
        "FROM items JOIN below ON items.inode = below.inode");
    query.bind(1, static_cast<std::int64_t>(inode));
    std::vector<KernelNotice> removed;
    std::unordered_map<Inode, Inode> parents;
    while (query.step()) {
        removed.push_back({KernelNotice::Kind::deleted, static_cast<Inode>(query.integer(1)),
                           static_cast<Inode>(query.integer(0)), query.bytes(2)});
        parents[removed.back().inode] = removed.back().parent;
    }
    // What the user changed stays, and so do the folders that lead to it.
    std::unordered_set<Inode> kept{kFuseRootInode};
    for (const KernelNotice& notice : removed) {
        if (!keptLocally(notice.inode)) continue;
        for (Inode up = notice.inode; parents.contains(up) && kept.insert(up).second;)
            up = parents[up];
    }
    for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
        if (kept.contains(it->inode)) {
            // A folder that stays only for what waits below it is gone from
            // the drive: it goes up again first, or what waits inside it
            // would have nowhere to go and the folder would stay here alone.
            if (drivesWord && !keptLocally(it->inode)) recreateFolderLocked(it->inode);
            continue;
        }
        stamp(it->inode);
        connection_.statement("DELETE FROM items WHERE inode = ?")
            .bind(1, static_cast<std::int64_t>(it->inode))
            .run();
        notices.push_back(*it);
    }
}

bool SqliteReplica::keptLocally(Inode inode) {
    if (hasRecord(inode)) return true;
    auto& query = connection_.statement("SELECT identifier FROM inodes WHERE inode = ?");
    query.bind(1, static_cast<std::int64_t>(inode));
    return query.step() && isProvisional(ItemIdentifier(query.bytes(0)));
}

bool SqliteReplica::hasRecord(Inode inode) {
    auto& query = connection_.statement("SELECT 1 FROM pending WHERE inode = ?");
    query.bind(1, static_cast<std::int64_t>(inode));
    return query.step();
}

}  // namespace cadrio::host::replica_detail
