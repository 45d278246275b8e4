#pragma once
// The SQLite implementation of Replica, private to the replica's files:
// replica.cpp (opening, reading, enumerations), replica_items.cpp (the
// schema and how one item is stored and removed) and
// replica_local_changes.cpp (the queue of local changes), replica_sending.cpp
// (the uploader's side of it) and replica_held_back.cpp (listed items
// awaiting a creation's answer).
//
// Threads: mutex_ guards the connection and every field below it; each
// public member takes it for the statements of one call only.

#include <deque>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "core/support/thread_annotations.hpp"
#include "core/support/write_stamps.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sqlite_statement.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host::replica_detail {

using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using sqlite::Connection;
using sqlite::Statement;

#define CADRIO_ITEM_COLUMNS                                                                      \
    "SELECT i.inode, i.parent, i.parent_identifier, i.name, i.shown_name, i.is_folder, i.size, " \
    "i.created, "                                                                                \
    "i.modified, i.content_version, i.metadata_version, i.capabilities, i.content_type, "        \
    "i.children_listed, "                                                                        \
    "n.identifier FROM items i JOIN inodes n ON n.inode = i.inode "

/// The file is no replica of this layout (or SQLite says it is damaged).
struct LayoutMismatch : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::optional<std::int64_t> nanoseconds(const std::optional<fileprovider::Date>& date);
std::optional<fileprovider::Date> dateOf(const std::optional<std::int64_t>& nanos);
ReplicaEntry readEntry(const Statement& row);

class SqliteReplica final : public Replica {
  public:
    SqliteReplica(const std::string& path, bool rebuilt);

    bool wasRebuilt() const override { return rebuilt_; }
    std::optional<ReplicaEntry> entry(Inode inode) const override;
    std::optional<ReplicaEntry> entry(const ItemIdentifier& identifier) const override;
    std::optional<ReplicaEntry> child(Inode parent, std::string_view shownName) const override;
    std::vector<ReplicaEntry> children(Inode parent, Inode afterInode,
                                       std::size_t limit) const override;
    Inode inodeOf(const ItemIdentifier& identifier) override;
    std::optional<fileprovider::SyncAnchor> anchor() const override;

    ListingStamp listingStamp() override;
    std::vector<KernelNotice> apply(std::span<const ItemPtr> items) override;
    std::vector<KernelNotice> applyListed(std::span<const ItemPtr> items,
                                          ListingStamp listedAt) override;
    std::vector<KernelNotice> applyChanges(std::span<const ItemIdentifier> deleted,
                                           std::span<const ItemPtr> updated,
                                           const fileprovider::SyncAnchor& anchor) override;
    std::vector<KernelNotice> forgetMissingItem(Inode inode, ListingStamp listedAt) override;
    void beginRelisting() override;
    std::vector<KernelNotice> finishRelisting(
        const std::optional<fileprovider::SyncAnchor>& anchor) override;
    std::vector<KernelNotice> replaceChildren(Inode folder, std::span<const ItemPtr> children,
                                              ListingStamp listedAt) override;

    ReplicaEntry createLocal(Inode parent, std::string_view name, bool isFolder,
                             fileprovider::Date created, bool queued) override;
    void recordContentChange(Inode file, std::int64_t size, fileprovider::Date modified) override;
    std::optional<Inode> renameLocal(Inode inode, Inode newParent, std::string_view newName,
                                     bool newNameIsScratch) override;
    void removeLocal(Inode inode) override;
    std::vector<PendingChange> pendingChanges() const override;
    std::optional<PendingChange> pendingChange(Inode inode) const override;
    std::size_t pendingCount() const override;
    std::optional<OutgoingChange> beginSending(Inode inode) override;
    std::vector<KernelNotice> finishSending(Inode inode, ItemPtr item, SentBytes sentBytes) override;
    std::vector<KernelNotice> finishRefusedDeletion(Inode inode, ItemPtr item) override;
    void failSending(Inode inode, std::optional<std::string> refusal) override;
    bool takeListedWhileChanging(const ItemIdentifier& identifier) override;
    std::vector<Inode> takeRequeued() override;
    std::vector<KernelNotice> forgetRemoteItem(Inode inode) override;
    void keepLocalOnly(Inode inode) override;
    std::vector<Inode> resumeSending(fileprovider::Date now, std::chrono::seconds window) override;

    std::optional<MaterialisedContent> materialised(Inode inode) const override;
    void recordMaterialised(const MaterialisedContent& content) override;
    void forgetMaterialised(Inode inode) override;
    std::vector<MaterialisedContent> materialisedByAge() const override;

  private:
    // SQLite's failures become ReplicaError here, and only here.
    template <class F>
    static auto guarded(F&& work) -> decltype(work()) {
        try {
            return work();
        } catch (const sqlite::SqliteError& error) {
            rethrow(error);
        }
    }
    [[noreturn]] static void rethrow(const sqlite::SqliteError& error) {
        throw ReplicaError(std::string("replica: ") + error.what());
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
        std::vector<KernelNotice> commit();
        std::vector<KernelNotice> notices;

      private:
        void addFolderNotices();

        sqlite::Transaction transaction_;
        std::int64_t& generation_;
        const std::int64_t saved_;
        bool committed_ = false;
    };

    // replica_held_back.cpp
    /// True when `item` (new here, placed in `next`) is held back for a
    /// local creation of that name, or updates an item held back.
    bool holdBack(const fileprovider::Item& item, const ReplicaEntry& next) CADRIO_REQUIRES(mutex_);
    /// The held item of `identifier`, no longer held: the creation's answer
    /// named it, as the drive showed it since. Null when none is held.
    ItemPtr takeHeldBack(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    /// The identifier of the item held back for `creation`, no longer held.
    std::optional<ItemIdentifier> heldBackFor(Inode creation) CADRIO_REQUIRES(mutex_);
    /// What is still held for `creation` is shown: items of their own after
    /// all, or the creation went another way.
    void releaseHeldBack(Inode creation, std::vector<KernelNotice>& notices) CADRIO_REQUIRES(mutex_);

    // replica_items.cpp
    void prepareSchema() CADRIO_REQUIRES(mutex_);
    void createSchema() CADRIO_REQUIRES(mutex_);
    void upgradeSchema(std::int64_t from) CADRIO_REQUIRES(mutex_);
    void setSchemaVersion() CADRIO_REQUIRES(mutex_);
    void requireInodeKeys(bool withQueue) CADRIO_REQUIRES(mutex_);
    std::optional<ReplicaEntry> entryLocked(Inode inode) const CADRIO_REQUIRES(mutex_);
    std::optional<Inode> knownInode(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    Inode inodeOfLocked(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    void storeAnchor(const fileprovider::SyncAnchor& anchor) CADRIO_REQUIRES(mutex_);
    void storeGeneration() CADRIO_REQUIRES(mutex_);
    void logOnce(std::string_view what, const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    /// `listedAt`: the items come from a listing asked for then, and those
    /// written since stay as they are (their inodes are returned all the same).
    std::vector<Inode> upsertAll(std::span<const ItemPtr> items, std::vector<KernelNotice>& notices,
                                 std::optional<ListingStamp> listedAt = std::nullopt) CADRIO_REQUIRES(mutex_);
    std::optional<Inode> upsert(const fileprovider::Item& item, std::vector<KernelNotice>& notices,
                                std::optional<ListingStamp> listedAt) CADRIO_REQUIRES(mutex_);
    /// Every write of an item or of its record goes through stamp().
    void stamp(Inode inode) CADRIO_REQUIRES(mutex_);
    bool writtenSince(Inode inode, ListingStamp listedAt) CADRIO_REQUIRES(mutex_);
    void place(ReplicaEntry& next) CADRIO_REQUIRES(mutex_);
    void writeUnderFreeName(ReplicaEntry& next) CADRIO_REQUIRES(mutex_);
    bool wouldCycle(Inode self, Inode parent) CADRIO_REQUIRES(mutex_);
    void write(const ReplicaEntry& e) CADRIO_REQUIRES(mutex_);
    static void noticesFor(const std::optional<ReplicaEntry>& previous, const ReplicaEntry& next,
                           std::vector<KernelNotice>& notices);
    /// The drive no longer has the item of `record`: it goes here too,
    /// unless `wanted` holds contents written here, which are sent anew.
    void forgetLocked(const PendingChange& record, LocalChange wanted, std::vector<KernelNotice>& notices)
        CADRIO_REQUIRES(mutex_);
    void rememberDeleted(const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    /// The drive's word that `identifier` is gone: the item goes with what
    /// is below it (deleteSubtree keeps what waits to be sent).
    void deletedOnTheDrive(const ItemIdentifier& identifier, std::vector<KernelNotice>& notices)
        CADRIO_REQUIRES(mutex_);
    /// `drivesWord`: the drive said the items are gone (not a guess from a
    /// refused change), so folders kept for what waits below them are
    /// created on the drive anew.
    void deleteSubtree(Inode inode, std::vector<KernelNotice>& notices, bool drivesWord = true)
        CADRIO_REQUIRES(mutex_);
    /// An item enumerations leave alone: it has a record, or it exists only
    /// here.
    bool keptLocally(Inode inode) CADRIO_REQUIRES(mutex_);
    /// A folder the drive no longer has, kept here for what waits below
    /// it: created anew under a new provisional identifier. False for the
    /// root, a file, or a folder already waiting for its creation.
    bool recreateFolderLocked(Inode folder) CADRIO_REQUIRES(mutex_);
    bool hasRecord(Inode inode) CADRIO_REQUIRES(mutex_);

    // replica_local_changes.cpp
    std::optional<PendingChange> recordLocked(Inode inode) const CADRIO_REQUIRES(mutex_);
    /// A deletion not yet carried out still holds `item`'s name on the drive.
    bool nameStillTaken(Inode inode, const fileprovider::BasicItem& item) const CADRIO_REQUIRES(mutex_);
    /// An item the drive still has in `folder` was moved out of it or
    /// deleted here, and that change is not carried out yet: the folder's
    /// deletion, which needs it empty on the drive, waits for it.
    bool childChangesPending(Inode folder, const ItemIdentifier& identifier) const CADRIO_REQUIRES(mutex_);
    void storeRecord(const PendingChange& record) CADRIO_REQUIRES(mutex_);
    void dropRecord(Inode inode) CADRIO_REQUIRES(mutex_);
    /// A new record whose base is the item as the drive last described it.
    PendingChange freshRecord(const ReplicaEntry& entry) CADRIO_REQUIRES(mutex_);
    std::optional<Inode> childInode(Inode parent, std::string_view shownName) const
        CADRIO_REQUIRES(mutex_);
    std::optional<ItemIdentifier> identifierOf(Inode inode) const CADRIO_REQUIRES(mutex_);
    /// As identifierOf(), for an inode that must have one: a damaged file
    /// may lack it, which throws ReplicaError.
    ItemIdentifier requiredIdentifier(Inode inode) const CADRIO_REQUIRES(mutex_);
    /// Gives `inode` a new identifier; its children follow.
    void setIdentifier(Inode inode, const ItemIdentifier& identifier) CADRIO_REQUIRES(mutex_);
    /// `to` takes the identifier of `from`, which becomes an item of here only.
    void takeIdentity(Inode from, Inode to) CADRIO_REQUIRES(mutex_);
    void removeItemRow(Inode inode) CADRIO_REQUIRES(mutex_);
    void removeLocked(Inode inode) CADRIO_REQUIRES(mutex_);
    /// What was being sent goes back to the queue; false when the record
    /// ended (a creation whose item was removed meanwhile).
    bool requeueSending(PendingChange& record, bool transient) CADRIO_REQUIRES(mutex_);
    /// An editor's save moved the original aside to a scratch name, or
    /// removed it, before writing `made` (a new file, its creation unsent)
    /// under the original's name: `made` takes the original's identity and
    /// record, as a content change. False when no such original waits.
    bool takeOverSetAside(const ReplicaEntry& made) CADRIO_REQUIRES(mutex_);
    /// The inode whose record the answer to a send of `inode` applies to:
    /// `inode` itself, or the last file that took its record over while
    /// the send was on its way (the forwarding ends here).
    Inode answeredRecord(Inode inode) CADRIO_REQUIRES(mutex_);
    /// The record's name and parent bits after the item moved.
    void noteMove(PendingChange& record, const ReplicaEntry& moved, bool scratch)
        CADRIO_REQUIRES(mutex_);

    // replica_sending.cpp
    void mergeAnswered(Inode inode, Inode other, std::vector<KernelNotice>& notices)
        CADRIO_REQUIRES(mutex_);
    void takeAnswer(Inode inode, const PendingChange& record, const fileprovider::Item& item,
                    std::vector<KernelNotice>& notices) CADRIO_REQUIRES(mutex_);

    mutable Mutex mutex_;
    mutable Connection connection_ CADRIO_GUARDED_BY(mutex_);
    const bool rebuilt_;
    std::int64_t generation_ CADRIO_GUARDED_BY(mutex_) = 0;
    /// Sends in flight whose record went to another inode (takeOverSetAside,
    /// renameLocal over the file):
    /// the inode the send was for -> the inode holding the record. Kept in
    /// memory only: after a restart no send is in flight.
    std::unordered_map<Inode, Inode> forwarded_ CADRIO_GUARDED_BY(mutex_);
    /// Identifiers the latest change pages deleted, the oldest forgotten
    /// first: an answer to a send that comes after the deletion of its item
    /// must not bring the item back. In memory only, as forwarded_.
    static constexpr std::size_t kDeletedRemembered = 4096;
    /// Items a listing brought in under the name of a local creation that
    /// may already be on the drive (its answer awaited, or lost): most
    /// likely that creation itself, so not shown beside it until the answer
    /// tells. By identifier; in memory only, as forwarded_ (a relisting
    /// after a restart brings them in again).
    struct HeldItem {
        Inode creation = 0;
        ItemPtr item;
        std::int64_t generation = 0;  // of the listing that last showed it
    };
    std::unordered_map<std::string, HeldItem> heldBack_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<std::string> deletedLately_ CADRIO_GUARDED_BY(mutex_);
    /// Identifiers of items an enumeration showed while their record kept
    /// them out; in memory only, as forwarded_.
    std::unordered_set<std::string> listedWhileChanging_ CADRIO_GUARDED_BY(mutex_);
    /// Folders recreateFolderLocked queued, for takeRequeued; in memory
    /// only, as forwarded_. One whose transaction rolled back may be in it:
    /// telling the uploader of a missing record is harmless.
    std::vector<Inode> requeued_ CADRIO_GUARDED_BY(mutex_);
    std::deque<std::string> deletedOrder_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<std::string> loggedItems_ CADRIO_GUARDED_BY(mutex_);
    /// The latest write of each item or record, for late listings. A
    /// listing older than what it remembers leaves every item it finds
    /// alone. In memory only: after a restart no listing is on its way.
    WriteStamps<Inode> stamps_ CADRIO_GUARDED_BY(mutex_);
    const log::Logger& logger_ = hostLogger();
};

}  // namespace cadrio::host::replica_detail
