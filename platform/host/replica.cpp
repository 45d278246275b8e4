#include "platform/host/replica.hpp"
#include "platform/host/host_logger.hpp"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <system_error>

#include "platform/host/replica_sqlite.hpp"

namespace cadrio::host {
namespace replica_detail {

std::optional<std::int64_t> nanoseconds(const std::optional<fileprovider::Date>& date) {
    if (!date) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date->time_since_epoch()).count();
}

std::optional<fileprovider::Date> dateOf(const std::optional<std::int64_t>& nanos) {
    if (!nanos) return std::nullopt;
    return fileprovider::Date(
        std::chrono::duration_cast<fileprovider::Date::duration>(std::chrono::nanoseconds(*nanos)));
}

ReplicaEntry readEntry(const Statement& row) {
    ReplicaEntry entry;
    entry.inode = static_cast<Inode>(row.integer(0));
    const auto parent = static_cast<Inode>(row.integer(1));
    entry.parentInode = parent == 0 ? kFuseRootInode : parent;
    entry.parentIdentifier = ItemIdentifier(row.bytes(2));
    entry.name = row.bytes(3);
    entry.shownName = row.bytes(4);
    entry.isFolder = row.integer(5) != 0;
    entry.size = row.integer(6);
    entry.created = dateOf(row.optionalInteger(7));
    entry.modified = dateOf(row.optionalInteger(8));
    entry.version = {row.bytes(9), row.bytes(10)};
    entry.capabilities = static_cast<std::uint64_t>(row.integer(11));
    entry.contentType = row.bytes(12);
    entry.childrenListed = row.integer(13) != 0;
    entry.identifier = ItemIdentifier(row.bytes(14));
    return entry;
}

namespace {

MaterialisedContent readMaterialised(const Statement& row) {
    MaterialisedContent content;
    content.inode = static_cast<Inode>(row.integer(0));
    content.contentVersion = row.bytes(1);
    content.size = row.integer(2);
    content.lastUsed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(row.integer(3))));
    return content;
}

}  // namespace

SqliteReplica::SqliteReplica(const std::string& path, bool rebuilt)
    : connection_(path), rebuilt_(rebuilt) {
    LockGuard lock(mutex_);
    connection_.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    prepareSchema();
    auto& read = connection_.statement("SELECT value FROM state WHERE key = 'generation'");
    generation_ = read.step() ? read.integer(0) : 0;
}

std::vector<KernelNotice> SqliteReplica::Change::commit() {
    transaction_.commit();
    committed_ = true;
    addFolderNotices();
    return std::move(notices);
}

// A folder whose entries changed has a stale listing in the kernel too
// (cached readdir pages): one notice per folder, and one per inode at all,
// so that a first listing costs a notice per folder, not per item.
void SqliteReplica::Change::addFolderNotices() {
    std::set<Inode> folders;
    for (const KernelNotice& notice : notices) {
        if (notice.kind != KernelNotice::Kind::inode) folders.insert(notice.parent);
    }
    std::unordered_set<Inode> noticed;
    std::erase_if(notices, [&noticed](const KernelNotice& notice) {
        return notice.kind == KernelNotice::Kind::inode && !noticed.insert(notice.inode).second;
    });
    for (const Inode folder : folders) {
        if (!noticed.contains(folder)) notices.push_back({KernelNotice::Kind::inode, 0, folder, {}});
    }
}

std::optional<ReplicaEntry> SqliteReplica::entry(Inode inode) const {
    return guarded([&] {
        LockGuard lock(mutex_);
        return entryLocked(inode);
    });
}

std::optional<ReplicaEntry> SqliteReplica::entry(const ItemIdentifier& identifier) const {
    return guarded([&]() -> std::optional<ReplicaEntry> {
        LockGuard lock(mutex_);
        auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE n.identifier = ?");
        query.bind(1, identifier.rawValue());
        if (!query.step()) return std::nullopt;
        return readEntry(query);
    });
}

std::optional<ReplicaEntry> SqliteReplica::child(Inode parent, std::string_view shownName) const {
    if (parent == 0) return std::nullopt;
    return guarded([&]() -> std::optional<ReplicaEntry> {
        LockGuard lock(mutex_);
        auto& query =
            connection_.statement(CADRIO_ITEM_COLUMNS "WHERE i.parent = ? AND i.shown_name = ?");
        query.bind(1, static_cast<std::int64_t>(parent)).bind(2, shownName);
        if (!query.step()) return std::nullopt;
        return readEntry(query);
    });
}

std::vector<ReplicaEntry> SqliteReplica::children(Inode parent, Inode afterInode,
                                                  std::size_t limit) const {
    if (parent == 0) return {};  // the root's own row sits under 0
    return guarded([&] {
        LockGuard lock(mutex_);
        auto& query = connection_.statement(
            CADRIO_ITEM_COLUMNS "WHERE i.parent = ? AND i.inode > ? ORDER BY i.inode LIMIT ?");
        query.bind(1, static_cast<std::int64_t>(parent))
            .bind(2, static_cast<std::int64_t>(afterInode))
            .bind(3, static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)));
        std::vector<ReplicaEntry> found;
        while (query.step()) found.push_back(readEntry(query));
        return found;
    });
}

Inode SqliteReplica::inodeOf(const ItemIdentifier& identifier) {
    return guarded([&] {
        LockGuard lock(mutex_);
        return inodeOfLocked(identifier);
    });
}

std::optional<fileprovider::SyncAnchor> SqliteReplica::anchor() const {
    return guarded([&]() -> std::optional<fileprovider::SyncAnchor> {
        LockGuard lock(mutex_);
        auto& query = connection_.statement("SELECT value FROM state WHERE key = 'anchor'");
        if (!query.step()) return std::nullopt;
        return fileprovider::SyncAnchor{query.bytes(0)};
    });
}

ListingStamp SqliteReplica::listingStamp() {
    LockGuard lock(mutex_);
    return stamps_.latest();
}

std::vector<KernelNotice> SqliteReplica::apply(std::span<const ItemPtr> items) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    upsertAll(items, change.notices);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<KernelNotice> SqliteReplica::applyListed(std::span<const ItemPtr> items,
                                                     ListingStamp listedAt) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    upsertAll(items, change.notices, listedAt);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<KernelNotice> SqliteReplica::applyChanges(std::span<const ItemIdentifier> deleted,
                                                      std::span<const ItemPtr> updated,
                                                      const fileprovider::SyncAnchor& anchor) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    for (const auto& identifier : deleted) deletedOnTheDrive(identifier, change.notices);
    upsertAll(updated, change.notices);
    storeAnchor(anchor);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::deletedOnTheDrive(const ItemIdentifier& identifier, std::vector<KernelNotice>& notices) {
    const std::optional<Inode> inode = knownInode(identifier);
    if (inode && *inode != kFuseRootInode) deleteSubtree(*inode, notices);
    rememberDeleted(identifier);
    heldBack_.erase(identifier.rawValue());
}

std::vector<KernelNotice> SqliteReplica::forgetMissingItem(Inode inode, ListingStamp listedAt) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    const std::optional<ReplicaEntry> entry = entryLocked(inode);
    if (!entry || inode == kFuseRootInode || isProvisional(entry->identifier) || writtenSince(inode, listedAt)) {
        return {};
    }
    deletedOnTheDrive(entry->identifier, change.notices);
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

void SqliteReplica::beginRelisting() try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    ++generation_;
    storeGeneration();
    change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<KernelNotice> SqliteReplica::finishRelisting(
    const std::optional<fileprovider::SyncAnchor>& anchor) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    std::vector<Inode> stale;
    auto& query =
        connection_.statement("SELECT inode FROM items WHERE generation < ? AND inode <> 1");
    query.bind(1, generation_);
    while (query.step()) stale.push_back(static_cast<Inode>(query.integer(0)));
    for (const Inode inode : stale) {
        if (entryLocked(inode)) deleteSubtree(inode, change.notices);
    }
    const std::int64_t current = generation_;
    std::erase_if(heldBack_, [current](const auto& held) { return held.second.generation < current; });
    connection_.statement("UPDATE items SET children_listed = 1 WHERE is_folder = 1").run();
    if (anchor) {
        storeAnchor(*anchor);
    } else {
        connection_.statement("DELETE FROM state WHERE key = 'anchor'").run();
    }
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::vector<KernelNotice> SqliteReplica::replaceChildren(Inode folder,
                                                         std::span<const ItemPtr> children,
                                                         ListingStamp listedAt) try {
    LockGuard lock(mutex_);
    Change change(connection_, generation_);
    const std::vector<Inode> kept = upsertAll(children, change.notices, listedAt);
    const std::unordered_set<Inode> keep(kept.begin(), kept.end());
    std::vector<Inode> gone;
    auto& query = connection_.statement("SELECT inode FROM items WHERE parent = ?");
    query.bind(1, static_cast<std::int64_t>(folder));
    while (query.step()) {
        const auto inode = static_cast<Inode>(query.integer(0));
        if (!keep.contains(inode) && !writtenSince(inode, listedAt)) gone.push_back(inode);
    }
    for (const Inode inode : gone) deleteSubtree(inode, change.notices);
    connection_.statement("UPDATE items SET children_listed = 1 WHERE inode = ?")
        .bind(1, static_cast<std::int64_t>(folder))
        .run();
    return change.commit();
} catch (const sqlite::SqliteError& error) {
    rethrow(error);
}

std::optional<MaterialisedContent> SqliteReplica::materialised(Inode inode) const {
    return guarded([&]() -> std::optional<MaterialisedContent> {
        LockGuard lock(mutex_);
        auto& query = connection_.statement(
            "SELECT inode, content_version, size, last_used FROM materialised WHERE inode = ?");
        query.bind(1, static_cast<std::int64_t>(inode));
        if (!query.step()) return std::nullopt;
        return readMaterialised(query);
    });
}

void SqliteReplica::recordMaterialised(const MaterialisedContent& content) {
    guarded([&] {
        LockGuard lock(mutex_);
        connection_
            .statement(
                "INSERT OR REPLACE INTO materialised(inode, content_version, size, last_used) "
                "VALUES (?, ?, ?, ?)")
            .bind(1, static_cast<std::int64_t>(content.inode))
            .bind(2, content.contentVersion)
            .bind(3, content.size)
            .bind(4, static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                   content.lastUsed.time_since_epoch())
                                                   .count()))
            .run();
    });
}

void SqliteReplica::forgetMaterialised(Inode inode) {
    guarded([&] {
        LockGuard lock(mutex_);
        connection_.statement("DELETE FROM materialised WHERE inode = ?")
            .bind(1, static_cast<std::int64_t>(inode))
            .run();
    });
}

std::vector<MaterialisedContent> SqliteReplica::materialisedByAge() const {
    return guarded([&] {
        LockGuard lock(mutex_);
        auto& query = connection_.statement(
            "SELECT inode, content_version, size, last_used FROM materialised ORDER BY "
            "last_used, inode");
        std::vector<MaterialisedContent> found;
        while (query.step()) found.push_back(readMaterialised(query));
        return found;
    });
}

}  // namespace replica_detail

namespace {

void moveAside(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::path damaged = path;
    damaged += ".damaged";
    std::filesystem::rename(path, damaged, ignored);
    for (const char* suffix : {"-wal", "-shm"}) {
        std::filesystem::path side = path;
        side += suffix;
        std::filesystem::path sideDamaged = damaged;
        sideDamaged += suffix;
        std::filesystem::rename(side, sideDamaged, ignored);
    }
}

}  // namespace

std::unique_ptr<Replica> Replica::open(const std::filesystem::path& path) {
    const log::Logger& logger = hostLogger();
    const bool inMemory = path == ":memory:";
    try {
        return std::make_unique<replica_detail::SqliteReplica>(path.string(), false);
    } catch (const sqlite::SqliteError& error) {
        if (inMemory || !error.meansDamagedFile())
            throw ReplicaError(std::string("replica: ") + error.what());
    } catch (const replica_detail::LayoutMismatch& error) {
        if (inMemory) throw ReplicaError(std::string("replica: ") + error.what());
    }
    logger.error("Réplique endommagée, mise de côté et recréée : {}", path.string());
    moveAside(path);
    try {
        return std::make_unique<replica_detail::SqliteReplica>(path.string(), true);
    } catch (const std::exception& error) {
        throw ReplicaError(std::string("replica: ") + error.what());
    }
}

}  // namespace cadrio::host
