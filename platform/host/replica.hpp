#pragma once
// The host's own record of one domain: every item the plug-in described, the
// sync anchor to resume change enumerations from, and which contents sit in
// the content cache. One SQLite database per domain, in WAL mode, so that a
// restart resumes from the stored anchor instead of listing the drive again.
//
// Inode numbers: every identifier gets an inode the first time the replica
// hears of it (as an item or as a parent) and keeps it for good, also across
// restarts and after the item is deleted; the root container is always
// kFuseRootInode. A child may arrive before its parent (slices of a listing):
// it sits under its parent's inode and shows once the parent arrives.
//
// Shown names: the plug-in's name made safe for one directory entry ("." and
// "..", "/" and NUL cannot appear; a name over 255 bytes is shortened with a
// suffix derived from the identifier), and unique among its siblings: the
// sibling that already held a name keeps it, a newcomer gets a distinct,
// stable suffix. Lookups go by shown name only.
//
// Bad structures are repaired as they arrive and logged once per item: a
// folder that would become its own ancestor is shown under the root, a
// negative size as 0, the last of duplicate identifiers in one call wins.
//
// Every mutating call runs in one transaction and returns the kernel notices
// that make the FUSE layer's view current (see KernelNotice). Readers see
// either all of a transaction or none of it.
//
// Threads: every member may be called from any thread. One mutex guards the
// connection; it is held for the statements of one call only (a slice of at
// most a few hundred rows), never across a plug-in call or a network wait.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fileprovider/byte_strings.hpp"
#include "platform/fileprovider/item.hpp"
#include "platform/fileprovider/item_identifier.hpp"
#include "platform/host/local_changes.hpp"

namespace cadrio::host {

inline constexpr Inode kFuseRootInode = 1;

/// When a listing was asked for, in the replica's count of its writes.
using ListingStamp = std::uint64_t;

/// What the kernel must forget after a change: the entry `name` under
/// `parent` (a rename, a move, a deletion, a new sibling that took a name)
/// and the attributes or data of `inode`. `deleted` asks for
/// fuse_lowlevel_notify_delete, which also tells inotify watchers.
struct KernelNotice {
    enum class Kind { entry, inode, deleted };
    Kind kind = Kind::inode;
    Inode parent = 0;
    Inode inode = 0;
    std::string name;

    bool operator==(const KernelNotice&) const = default;
};

/// Where the drive put the bytes of a content change it answered.
enum class SentBytes {
    taken,            // under the item itself (or none were sent)
    copied,           // into a conflict copy
    copiedNewerHere,  // into a conflict copy, and newer bytes are here
};

/// One item as the FUSE layer shows it.
struct ReplicaEntry {
    Inode inode = 0;
    Inode parentInode = kFuseRootInode;
    fileprovider::ItemIdentifier identifier = fileprovider::ItemIdentifier::rootContainer();
    fileprovider::ItemIdentifier parentIdentifier = fileprovider::ItemIdentifier::rootContainer();
    /// The plug-in's name, untouched.
    std::string name;
    /// The name of the directory entry.
    std::string shownName;
    bool isFolder = false;
    std::int64_t size = 0;
    std::optional<fileprovider::Date> created;
    std::optional<fileprovider::Date> modified;
    fileprovider::ItemVersion version;
    std::uint64_t capabilities = 0;
    std::string contentType;
    /// A folder whose children the plug-in has listed (the root and every
    /// folder once the working set was listed).
    bool childrenListed = false;

    bool operator==(const ReplicaEntry&) const = default;
};

/// A content in the cache, by the version it holds.
struct MaterialisedContent {
    Inode inode = 0;
    fileprovider::ByteString contentVersion;
    std::int64_t size = 0;
    /// Last open, for least-recently-used eviction (the host's wall clock).
    std::chrono::system_clock::time_point lastUsed;

    bool operator==(const MaterialisedContent&) const = default;
};

class ReplicaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Replica {
public:
    /// Opens or creates the database at `path` (":memory:" for tests). A
    /// file that is not a replica of this layout, or that SQLite finds
    /// damaged, is renamed to "<path>.damaged" and a new one is created;
    /// wasRebuilt() then answers true so that the host lists the working set.
    /// Throws ReplicaError when no database can be opened at all.
    static std::unique_ptr<Replica> open(const std::filesystem::path& path);
    virtual ~Replica() = default;

    virtual bool wasRebuilt() const = 0;

    // Reading.
    virtual std::optional<ReplicaEntry> entry(Inode inode) const = 0;
    virtual std::optional<ReplicaEntry> entry(const fileprovider::ItemIdentifier& identifier) const = 0;
    virtual std::optional<ReplicaEntry> child(Inode parent, std::string_view shownName) const = 0;
    /// Up to `limit` children of `parent` with an inode above `afterInode`,
    /// by increasing inode: a directory offset resumes in one indexed query.
    virtual std::vector<ReplicaEntry> children(Inode parent, Inode afterInode, std::size_t limit) const = 0;
    /// The inode of `identifier`, allocated when it has none yet.
    virtual Inode inodeOf(const fileprovider::ItemIdentifier& identifier) = 0;

    // The sync state.
    virtual std::optional<fileprovider::SyncAnchor> anchor() const = 0;

    // Changes from enumerations; each is one transaction.
    /// Taken before a listing is asked for. A listing lands late (a slow
    /// answer, a long folder), and what the replica wrote meanwhile (a change
    /// page, an answer, a local change, a deletion) is newer than what it
    /// holds: applyListed() and replaceChildren() leave those items as they
    /// are, rather than bring back an old name or a deleted item for good.
    virtual ListingStamp listingStamp() = 0;
    /// Adds or replaces items read just now (an item read again, a change
    /// page's updates).
    virtual std::vector<KernelNotice> apply(std::span<const fileprovider::ItemPtr> items) = 0;
    /// A slice of a listing asked for at `listedAt`.
    virtual std::vector<KernelNotice> applyListed(std::span<const fileprovider::ItemPtr> items,
                                                  ListingStamp listedAt) = 0;
    /// A change page: deletions (with everything below a deleted folder),
    /// then updates, then the new anchor, in one transaction.
    virtual std::vector<KernelNotice> applyChanges(std::span<const fileprovider::ItemIdentifier> deleted,
                                                   std::span<const fileprovider::ItemPtr> updated,
                                                   const fileprovider::SyncAnchor& anchor) = 0;
    /// The drive has no `inode` (a folder's own listing, or the plug-in
    /// asked for the item, answered "no such item"): it goes as a change
    /// page's deletion would take it, unless written since `listedAt`. A
    /// deletion that page missed, that came before a listing that brought
    /// the item back, or that a restart forgot while a creation's answer was
    /// lost, is never heard of again.
    virtual std::vector<KernelNotice> forgetMissingItem(Inode inode, ListingStamp listedAt) = 0;
    /// A full listing of the working set in slices: beginRelisting() starts
    /// one, applyListed() takes its slices, finishRelisting() removes every item
    /// the listing did not hold and stores `anchor`.
    virtual void beginRelisting() = 0;
    virtual std::vector<KernelNotice> finishRelisting(const std::optional<fileprovider::SyncAnchor>& anchor) = 0;
    /// The children of `folder` as one listing gave them: those it no longer
    /// holds are removed, unless written since `listedAt`; the folder counts
    /// as listed afterwards.
    virtual std::vector<KernelNotice> replaceChildren(Inode folder, std::span<const fileprovider::ItemPtr> children,
                                                      ListingStamp listedAt) = 0;

    // Local changes. Each call changes the items as the user sees them and
    // queues the change for the drive in one transaction, so that a change
    // the file system acknowledged survives a crash of the host. Names are
    // the user's, byte for byte: the caller checked that they are valid
    // entry names, and that a removed folder is empty.
    //
    // An item with a record (queued or being sent) keeps its local state:
    // enumerations neither overwrite nor delete it (a deleted folder stays
    // while anything below it has a record), and the answer to its change
    // brings the drive's state in.

    /// A new item under `parent`, shown as `name`, with a provisional
    /// identifier. `queued` false: a scratch file kept here, never sent.
    /// A queued file taking the name that a sibling moved aside to a scratch
    /// name still holds on the drive takes over that sibling's identity
    /// (an editor's backup-then-write save): the drive sees a content change
    /// of the original, and the sibling becomes a scratch file. When the
    /// original's own change is being sent at that moment, the answer to
    /// that send applies to the new file's record.
    /// Throws ReplicaError when a sibling already holds `name`.
    virtual ReplicaEntry createLocal(Inode parent, std::string_view name, bool isFolder,
                                     fileprovider::Date created, bool queued) = 0;
    /// The contents of `file` changed here: its size and date, and a queued
    /// content change (a scratch file only gets the size and date).
    virtual void recordContentChange(Inode file, std::int64_t size, fileprovider::Date modified) = 0;
    /// A rename or move. An entry holding the target name is replaced: when
    /// `inode` is a file whose creation has not been sent and the replaced
    /// one is a file the drive has, `inode` takes over the replaced file's
    /// identity (the drive sees a content change of it, as an editor's
    /// write-then-rename save means); otherwise the replaced item is removed
    /// as removeLocal() does. A move back to the name and parent the drive
    /// has cancels the queued rename; a scratch file renamed to a name that
    /// is not one becomes a queued creation. Returns the inode that was
    /// replaced, if any, so that its cached contents can go.
    virtual std::optional<Inode> renameLocal(Inode inode, Inode newParent, std::string_view newName,
                                             bool newNameIsScratch) = 0;
    /// Removes the item. One the drive has never heard of goes with its
    /// record; otherwise a deletion replaces whatever was queued.
    virtual void removeLocal(Inode inode) = 0;

    // The uploader's side of the queue.
    /// Every record, oldest first.
    virtual std::vector<PendingChange> pendingChanges() const = 0;
    virtual std::optional<PendingChange> pendingChange(Inode inode) const = 0;
    virtual std::size_t pendingCount() const = 0;
    /// Moves the queued bits of `inode` to `sending` and returns them with
    /// the item as it stands. Absent when nothing is queued, the change was
    /// refused, or it must wait: its item or the parent it goes to has no
    /// identifier of the drive yet, a deletion still holds the name it
    /// takes, or (a folder's deletion) an item moved out of it or deleted
    /// has not left it on the drive yet. A creation whose answer was lost
    /// and that was removed here since becomes the deletion of what the
    /// listings brought under the name and folder of that attempt; with
    /// nothing of the kind, the record goes and this is absent.
    virtual std::optional<OutgoingChange> beginSending(Inode inode) = 0;
    /// The drive carried out what was being sent. `item` is its answer
    /// (absent for a deletion): the provisional identifier gives way to the
    /// drive's (the inode stays; an item an enumeration already brought in
    /// under that identifier merges into this one), versions and dates are
    /// the drive's, and fields changed again meanwhile keep their local
    /// value. The record goes once nothing is queued.
    ///
    /// `sentBytes` says where the bytes sent went. When the drive kept them
    /// as a conflict copy, bytes written here since were based on the same
    /// version as those: they stay queued (`copiedNewerHere` queues them
    /// for a writer that has not closed yet) under the content version the
    /// sent ones had, so that they meet the same conflict and land in a copy
    /// too rather than over the other device's version.
    virtual std::vector<KernelNotice> finishSending(Inode inode, fileprovider::ItemPtr item,
                                                    SentBytes sentBytes = SentBytes::taken) = 0;
    /// The drive kept the item a deletion was sent for (another device's
    /// newer bytes): the record ends and `item` is shown again, in one
    /// transaction. Apart, a stop between them would lose the file here for
    /// good, the change page that brought the newer bytes being taken.
    virtual std::vector<KernelNotice> finishRefusedDeletion(Inode inode, fileprovider::ItemPtr item) = 0;
    /// What was being sent goes back to the queue. With a `refusal`, the
    /// record is held until the item changes again.
    virtual void failSending(Inode inode, std::optional<std::string> refusal) = 0;
    /// Whether an enumeration brought news of `identifier` that its record
    /// kept out (see above) since the last call: the answer to a change may
    /// predate it (a rename by another device while the bytes went up), so
    /// the item is read again once the record is gone.
    virtual bool takeListedWhileChanging(const fileprovider::ItemIdentifier& identifier) = 0;
    /// Folders the drive's word queued again as creations since the last
    /// call (the drive removed them while something made here waits
    /// inside); whoever schedules the sends must be told. In memory only:
    /// after a restart the whole queue is resumed anyway.
    virtual std::vector<Inode> takeRequeued() = 0;
    /// The drive no longer has the item the record changes: a queued
    /// content change becomes a creation under a new provisional identifier
    /// (nothing the user wrote is lost); a rename or deletion alone ends the
    /// record and the item goes.
    virtual std::vector<KernelNotice> forgetRemoteItem(Inode inode) = 0;
    /// The plug-in keeps the item out of sync (an excluded name): the item
    /// stays here as a scratch file and its record goes.
    virtual void keepLocalOnly(Inode inode) = 0;
    /// At start-up, before the uploader runs: bits left in `sending` go back
    /// to the queue, a creation among them marked may-already-exist.
    /// Returns the inodes whose records were being sent, and those an
    /// earlier start returned less than `window` before `now` (a host
    /// stopped again while it waited for them to land): a stopped host's
    /// request may still be carried out by the server.
    virtual std::vector<Inode> resumeSending(fileprovider::Date now, std::chrono::seconds window) = 0;

    // The content cache's records.
    virtual std::optional<MaterialisedContent> materialised(Inode inode) const = 0;
    virtual void recordMaterialised(const MaterialisedContent& content) = 0;
    virtual void forgetMaterialised(Inode inode) = 0;
    /// Every cached content, least recently used first.
    virtual std::vector<MaterialisedContent> materialisedByAge() const = 0;
};

}  // namespace cadrio::host
