#include "platform/host/replica.hpp"

#include <algorithm>
#include <set>
#include <system_error>
#include <unordered_set>

#include "core/support/thread_annotations.hpp"
#include "platform/host/shown_names.hpp"
#include "platform/host/sqlite_statement.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::host {
namespace {

using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using sqlite::Connection;
using sqlite::Statement;

constexpr std::int64_t kSchemaVersion = 1;
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

#define CADRIO_ITEM_COLUMNS                                                                                   \
    "SELECT i.inode, i.parent, i.parent_identifier, i.name, i.shown_name, i.is_folder, i.size, i.created, " \
    "i.modified, i.content_version, i.metadata_version, i.capabilities, i.content_type, i.children_listed, " \
    "n.identifier FROM items i JOIN inodes n ON n.inode = i.inode "

/// The file is no replica of this layout (or SQLite says it is damaged).
struct LayoutMismatch : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::optional<std::int64_t> nanoseconds(const std::optional<fileprovider::Date>& date) {
    if (!date) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date->time_since_epoch()).count();
}

std::optional<fileprovider::Date> dateOf(const std::optional<std::int64_t>& nanos) {
    if (!nanos) return std::nullopt;
    return fileprovider::Date(std::chrono::duration_cast<fileprovider::Date::duration>(std::chrono::nanoseconds(*nanos)));
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

MaterialisedContent readMaterialised(const Statement& row) {
    MaterialisedContent content;
    content.inode = static_cast<Inode>(row.integer(0));
    content.contentVersion = row.bytes(1);
    content.size = row.integer(2);
    content.lastUsed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(row.integer(3))));
    return content;
}

/// An item as it is stored, before it gets its place.
struct Incoming {
    ItemIdentifier identifier;
    ItemIdentifier parent;
    ReplicaEntry fields;
};

class SqliteReplica final : public Replica {
public:
    SqliteReplica(const std::string& path, bool rebuilt) : connection_(path), rebuilt_(rebuilt) {
        LockGuard lock(mutex_);
        connection_.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        prepareSchema();
        auto& read = connection_.statement("SELECT value FROM state WHERE key = 'generation'");
        generation_ = read.step() ? read.integer(0) : 0;
    }

    bool wasRebuilt() const override { return rebuilt_; }

    std::optional<ReplicaEntry> entry(Inode inode) const override {
        return guarded([&] {
            LockGuard lock(mutex_);
            return entryLocked(inode);
        });
    }

    std::optional<ReplicaEntry> entry(const ItemIdentifier& identifier) const override {
        return guarded([&]() -> std::optional<ReplicaEntry> {
            LockGuard lock(mutex_);
            auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE n.identifier = ?");
            query.bind(1, identifier.rawValue());
            if (!query.step()) return std::nullopt;
            return readEntry(query);
        });
    }

    std::optional<ReplicaEntry> child(Inode parent, std::string_view shownName) const override {
        return guarded([&]() -> std::optional<ReplicaEntry> {
            LockGuard lock(mutex_);
            auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE i.parent = ? AND i.shown_name = ?");
            query.bind(1, static_cast<std::int64_t>(parent)).bind(2, shownName);
            if (!query.step()) return std::nullopt;
            return readEntry(query);
        });
    }

    std::vector<ReplicaEntry> children(Inode parent, Inode afterInode, std::size_t limit) const override {
        return guarded([&] {
            LockGuard lock(mutex_);
            auto& query = connection_.statement(CADRIO_ITEM_COLUMNS
                                                "WHERE i.parent = ? AND i.inode > ? ORDER BY i.inode LIMIT ?");
            query.bind(1, static_cast<std::int64_t>(parent))
                .bind(2, static_cast<std::int64_t>(afterInode))
                .bind(3, static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)));
            std::vector<ReplicaEntry> found;
            while (query.step()) found.push_back(readEntry(query));
            return found;
        });
    }

    Inode inodeOf(const ItemIdentifier& identifier) override {
        return guarded([&] {
            LockGuard lock(mutex_);
            return inodeOfLocked(identifier);
        });
    }

    std::optional<fileprovider::SyncAnchor> anchor() const override {
        return guarded([&]() -> std::optional<fileprovider::SyncAnchor> {
            LockGuard lock(mutex_);
            auto& query = connection_.statement("SELECT value FROM state WHERE key = 'anchor'");
            if (!query.step()) return std::nullopt;
            return fileprovider::SyncAnchor{query.bytes(0)};
        });
    }

    std::vector<KernelNotice> apply(std::span<const ItemPtr> items) override try {
        LockGuard lock(mutex_);
        Change change(connection_, generation_);
        upsertAll(items, change.notices);
        return change.commit();
    } catch (const sqlite::SqliteError& error) {
        rethrow(error);
    }

    std::vector<KernelNotice> applyChanges(std::span<const ItemIdentifier> deleted, std::span<const ItemPtr> updated,
                                           const fileprovider::SyncAnchor& anchor) override try {
        LockGuard lock(mutex_);
        Change change(connection_, generation_);
        for (const auto& identifier : deleted) {
            const std::optional<Inode> inode = knownInode(identifier);
            if (inode && *inode != kFuseRootInode) deleteSubtree(*inode, change.notices);
        }
        upsertAll(updated, change.notices);
        storeAnchor(anchor);
        return change.commit();
    } catch (const sqlite::SqliteError& error) {
        rethrow(error);
    }

    void beginRelisting() override try {
        LockGuard lock(mutex_);
        Change change(connection_, generation_);
        ++generation_;
        storeGeneration();
        change.commit();
    } catch (const sqlite::SqliteError& error) {
        rethrow(error);
    }

    std::vector<KernelNotice> finishRelisting(const std::optional<fileprovider::SyncAnchor>& anchor) override try {
        LockGuard lock(mutex_);
        Change change(connection_, generation_);
        std::vector<Inode> stale;
        auto& query = connection_.statement("SELECT inode FROM items WHERE generation < ? AND inode <> 1");
        query.bind(1, generation_);
        while (query.step()) stale.push_back(static_cast<Inode>(query.integer(0)));
        for (const Inode inode : stale) {
            if (entryLocked(inode)) deleteSubtree(inode, change.notices);
        }
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

    std::vector<KernelNotice> replaceChildren(Inode folder, std::span<const ItemPtr> children) override try {
        LockGuard lock(mutex_);
        Change change(connection_, generation_);
        const std::vector<Inode> kept = upsertAll(children, change.notices);
        const std::unordered_set<Inode> keep(kept.begin(), kept.end());
        std::vector<Inode> gone;
        auto& query = connection_.statement("SELECT inode FROM items WHERE parent = ?");
        query.bind(1, static_cast<std::int64_t>(folder));
        while (query.step()) {
            const auto inode = static_cast<Inode>(query.integer(0));
            if (!keep.contains(inode)) gone.push_back(inode);
        }
        for (const Inode inode : gone) deleteSubtree(inode, change.notices);
        connection_.statement("UPDATE items SET children_listed = 1 WHERE inode = ?")
            .bind(1, static_cast<std::int64_t>(folder))
            .run();
        return change.commit();
    } catch (const sqlite::SqliteError& error) {
        rethrow(error);
    }

    std::optional<MaterialisedContent> materialised(Inode inode) const override {
        return guarded([&]() -> std::optional<MaterialisedContent> {
            LockGuard lock(mutex_);
            auto& query = connection_.statement(
                "SELECT inode, content_version, size, last_used FROM materialised WHERE inode = ?");
            query.bind(1, static_cast<std::int64_t>(inode));
            if (!query.step()) return std::nullopt;
            return readMaterialised(query);
        });
    }

    void recordMaterialised(const MaterialisedContent& content) override {
        guarded([&] {
            LockGuard lock(mutex_);
            connection_
                .statement("INSERT OR REPLACE INTO materialised(inode, content_version, size, last_used) "
                           "VALUES (?, ?, ?, ?)")
                .bind(1, static_cast<std::int64_t>(content.inode))
                .bind(2, content.contentVersion)
                .bind(3, content.size)
                .bind(4, static_cast<std::int64_t>(
                             std::chrono::duration_cast<std::chrono::nanoseconds>(content.lastUsed.time_since_epoch())
                                 .count()))
                .run();
        });
    }

    void forgetMaterialised(Inode inode) override {
        guarded([&] {
            LockGuard lock(mutex_);
            connection_.statement("DELETE FROM materialised WHERE inode = ?")
                .bind(1, static_cast<std::int64_t>(inode))
                .run();
        });
    }

    std::vector<MaterialisedContent> materialisedByAge() const override {
        return guarded([&] {
            LockGuard lock(mutex_);
            auto& query = connection_.statement(
                "SELECT inode, content_version, size, last_used FROM materialised ORDER BY last_used, inode");
            std::vector<MaterialisedContent> found;
            while (query.step()) found.push_back(readMaterialised(query));
            return found;
        });
    }

private:
    // SQLite's failures become ReplicaError here, and only here.
    template <class F>
    static auto guarded(F&& work) -> decltype(work()) {
        try {
            return work();
        } catch (const sqlite::SqliteError& error) {
            throw ReplicaError(std::string("replica: ") + error.what());
        }
    }

    /// One mutating call: a transaction and the notices it produced. The
    /// generation goes back when the transaction does.
    class Change {
    public:
        Change(Connection& connection, std::int64_t& generation)
            : transaction_(connection), generation_(generation), saved_(generation) {}
        ~Change() {
            if (!committed_) generation_ = saved_;
        }
        std::vector<KernelNotice> commit() {
            transaction_.commit();
            committed_ = true;
            addFolderNotices();
            return std::move(notices);
        }
        std::vector<KernelNotice> notices;

    private:
        // A folder whose entries changed has a stale listing in the kernel
        // too (cached readdir pages): one notice per folder.
        void addFolderNotices() {
            std::set<Inode> folders;
            for (const KernelNotice& notice : notices) {
                if (notice.kind != KernelNotice::Kind::inode) folders.insert(notice.parent);
            }
            for (const KernelNotice& notice : notices) {
                if (notice.kind == KernelNotice::Kind::inode) folders.erase(notice.inode);
            }
            for (const Inode folder : folders) notices.push_back({KernelNotice::Kind::inode, 0, folder, {}});
        }

        sqlite::Transaction transaction_;
        std::int64_t& generation_;
        const std::int64_t saved_;
        bool committed_ = false;
    };

    [[noreturn]] static void rethrow(const sqlite::SqliteError& error) {
        throw ReplicaError(std::string("replica: ") + error.what());
    }

    void prepareSchema() CADRIO_REQUIRES(mutex_) {
        auto& check = connection_.statement("PRAGMA quick_check");
        if (!check.step() || check.bytes(0) != "ok") throw LayoutMismatch("the database is damaged");
        check.reset();
        auto& version = connection_.statement("PRAGMA user_version");
        version.step();
        const std::int64_t found = version.integer(0);
        version.reset();
        auto& tables = connection_.statement("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                                             "('inodes', 'items', 'state', 'materialised')");
        tables.step();
        const std::int64_t known = tables.integer(0);
        tables.reset();
        if (found == kSchemaVersion && known == 4) return;
        auto& any = connection_.statement("SELECT count(*) FROM sqlite_master");
        any.step();
        const bool empty = found == 0 && any.integer(0) == 0;
        any.reset();
        if (!empty) throw LayoutMismatch("the database is not a replica of this layout");
        createSchema();
    }

    void createSchema() CADRIO_REQUIRES(mutex_) {
        sqlite::Transaction transaction(connection_);
        connection_.execute(kSchema);
        const std::string root(ItemIdentifier::rootContainerRawValue);
        connection_.statement("INSERT INTO inodes(inode, identifier) VALUES (1, ?)").bind(1, root).run();
        connection_
            .statement("INSERT INTO items(inode, parent, parent_identifier, name, shown_name, is_folder, size, "
                       "content_version, metadata_version, capabilities, content_type, children_listed, generation) "
                       "VALUES (1, 0, ?, '', '', 1, 0, '', '', 0, ?, 0, 0)")
            .bind(1, root)
            .bindText(2, types::ContentType::folder().identifier())
            .run();
        connection_.execute("PRAGMA user_version = 1");
        transaction.commit();
    }

    std::optional<ReplicaEntry> entryLocked(Inode inode) const CADRIO_REQUIRES(mutex_) {
        auto& query = connection_.statement(CADRIO_ITEM_COLUMNS "WHERE i.inode = ?");
        query.bind(1, static_cast<std::int64_t>(inode));
        if (!query.step()) return std::nullopt;
        return readEntry(query);
    }

    std::optional<Inode> knownInode(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_) {
        auto& query = connection_.statement("SELECT inode FROM inodes WHERE identifier = ?");
        query.bind(1, identifier.rawValue());
        if (!query.step()) return std::nullopt;
        return static_cast<Inode>(query.integer(0));
    }

    Inode inodeOfLocked(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_) {
        if (const auto known = knownInode(identifier)) return *known;
        connection_.statement("INSERT INTO inodes(identifier) VALUES (?)").bind(1, identifier.rawValue()).run();
        return static_cast<Inode>(connection_.lastInsertRowid());
    }

    void storeAnchor(const fileprovider::SyncAnchor& anchor) CADRIO_REQUIRES(mutex_) {
        connection_.statement("INSERT OR REPLACE INTO state(key, value) VALUES ('anchor', ?)")
            .bind(1, anchor.bytes)
            .run();
    }

    void storeGeneration() CADRIO_REQUIRES(mutex_) {
        connection_.statement("INSERT OR REPLACE INTO state(key, value) VALUES ('generation', ?)")
            .bind(1, generation_)
            .run();
    }

    void logOnce(std::string_view what, const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_) {
        if (loggedItems_.insert(std::string(what) + '\n' + identifier.rawValue()).second) {
            logger_.notice("Réplique : {} ({})", std::string(what), identifier.rawValue());
        }
    }

    /// Inserts or updates every item, the last of duplicates winning, and
    /// returns their inodes.
    std::vector<Inode> upsertAll(std::span<const ItemPtr> items, std::vector<KernelNotice>& notices)
        CADRIO_REQUIRES(mutex_) {
        std::vector<Inode> inodes;
        std::unordered_set<std::string> seen;
        for (const ItemPtr& item : items) {
            if (!item) continue;
            const ItemIdentifier identifier = item->itemIdentifier();
            if (!seen.insert(identifier.rawValue()).second) logOnce("identifiant en double", identifier);
            if (const auto inode = upsert(*item, notices)) inodes.push_back(*inode);
        }
        return inodes;
    }

    std::optional<Inode> upsert(const fileprovider::Item& item, std::vector<KernelNotice>& notices)
        CADRIO_REQUIRES(mutex_) {
        const ItemIdentifier identifier = item.itemIdentifier();
        if (identifier.isWorkingSet() || identifier.isTrashContainer() || identifier.rawValue().empty()) {
            logOnce("identifiant réservé ignoré", identifier);
            return std::nullopt;
        }
        ReplicaEntry next;
        next.identifier = identifier;
        next.parentIdentifier = item.parentItemIdentifier();
        next.name = item.filename();
        next.contentType = item.contentType().identifier();
        next.isFolder = identifier.isRootContainer() || item.contentType() == types::ContentType::folder();
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

        const std::optional<ReplicaEntry> previous = entryLocked(next.inode);
        if (identifier.isRootContainer()) {
            next.parentInode = 0;
            next.parentIdentifier = identifier;
            next.shownName.clear();
        } else {
            place(next);
        }
        next.childrenListed = previous && previous->childrenListed;
        write(next);
        noticesFor(previous, next, notices);
        return next.inode;
    }

    /// Chooses the parent (the root when the item's own would make a cycle)
    /// and a shown name free among the siblings.
    void place(ReplicaEntry& next) CADRIO_REQUIRES(mutex_) {
        next.parentInode = inodeOfLocked(next.parentIdentifier);
        if (wouldCycle(next.inode, next.parentInode)) {
            logOnce("dossier dans un cycle, montré à la racine", next.identifier);
            next.parentInode = kFuseRootInode;
            next.parentIdentifier = ItemIdentifier::rootContainer();
        }
        for (unsigned candidate = 0; candidate < kMaxNameCandidates; ++candidate) {
            next.shownName = shownName(next.name, next.identifier.rawValue(), candidate);
            auto& holder = connection_.statement("SELECT inode FROM items WHERE parent = ? AND shown_name = ?");
            holder.bind(1, static_cast<std::int64_t>(next.parentInode)).bind(2, next.shownName);
            if (!holder.step() || static_cast<Inode>(holder.integer(0)) == next.inode) return;
        }
        throw sqlite::SqliteError(SQLITE_CONSTRAINT, "no free name for an item");
    }

    bool wouldCycle(Inode self, Inode parent) CADRIO_REQUIRES(mutex_) {
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

    void write(const ReplicaEntry& e) CADRIO_REQUIRES(mutex_) {
        connection_
            .statement(
                "INSERT INTO items(inode, parent, parent_identifier, name, shown_name, is_folder, size, created, "
                "modified, content_version, metadata_version, capabilities, content_type, children_listed, "
                "generation) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15) "
                "ON CONFLICT(inode) DO UPDATE SET parent = ?2, parent_identifier = ?3, name = ?4, shown_name = ?5, "
                "is_folder = ?6, size = ?7, created = ?8, modified = ?9, content_version = ?10, "
                "metadata_version = ?11, capabilities = ?12, content_type = ?13, children_listed = ?14, "
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

    static void noticesFor(const std::optional<ReplicaEntry>& previous, const ReplicaEntry& next,
                           std::vector<KernelNotice>& notices) {
        using Kind = KernelNotice::Kind;
        const Inode parent = next.parentInode == 0 ? kFuseRootInode : next.parentInode;
        if (!previous) {
            if (next.inode != kFuseRootInode) notices.push_back({Kind::entry, parent, 0, next.shownName});
            return;
        }
        if (next.inode != kFuseRootInode &&
            (previous->parentInode != parent || previous->shownName != next.shownName)) {
            notices.push_back({Kind::entry, previous->parentInode, 0, previous->shownName});
            notices.push_back({Kind::entry, parent, 0, next.shownName});
        }
        if (previous->version.contentVersion != next.version.contentVersion || previous->size != next.size ||
            previous->modified != next.modified || previous->created != next.created ||
            previous->capabilities != next.capabilities) {
            notices.push_back({Kind::inode, 0, next.inode, {}});
        }
    }

    /// Removes `inode` and everything below it.
    void deleteSubtree(Inode inode, std::vector<KernelNotice>& notices) CADRIO_REQUIRES(mutex_) {
        auto& query = connection_.statement(
            "WITH RECURSIVE below(inode) AS (SELECT ?1 UNION SELECT items.inode FROM items JOIN below "
            "ON items.parent = below.inode) SELECT items.inode, items.parent, items.shown_name FROM items "
            "JOIN below ON items.inode = below.inode");
        query.bind(1, static_cast<std::int64_t>(inode));
        std::vector<KernelNotice> removed;
        while (query.step()) {
            removed.push_back({KernelNotice::Kind::deleted, static_cast<Inode>(query.integer(1)),
                               static_cast<Inode>(query.integer(0)), query.bytes(2)});
        }
        for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
            if (it->inode == kFuseRootInode) continue;
            connection_.statement("DELETE FROM items WHERE inode = ?")
                .bind(1, static_cast<std::int64_t>(it->inode))
                .run();
            notices.push_back(*it);
        }
    }

    mutable Mutex mutex_;
    mutable Connection connection_ CADRIO_GUARDED_BY(mutex_);
    const bool rebuilt_;
    std::int64_t generation_ CADRIO_GUARDED_BY(mutex_) = 0;
    std::unordered_set<std::string> loggedItems_ CADRIO_GUARDED_BY(mutex_);
    const log::Logger logger_{"zelvano.cadrio.sync", "host"};
};

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
    const log::Logger logger("zelvano.cadrio.sync", "host");
    const bool inMemory = path == ":memory:";
    try {
        return std::make_unique<SqliteReplica>(path.string(), false);
    } catch (const sqlite::SqliteError& error) {
        if (inMemory || !error.meansDamagedFile()) throw ReplicaError(std::string("replica: ") + error.what());
    } catch (const LayoutMismatch& error) {
        if (inMemory) throw ReplicaError(std::string("replica: ") + error.what());
    }
    logger.error("Réplique endommagée, mise de côté et recréée : {}", path.string());
    moveAside(path);
    try {
        return std::make_unique<SqliteReplica>(path.string(), true);
    } catch (const std::exception& error) {
        throw ReplicaError(std::string("replica: ") + error.what());
    }
}

}  // namespace cadrio::host
