#pragma once
// The plug-in's local picture of the drive: every non-trashed folder and
// every synchronisable file it has learnt of, the change-feed cursor up to
// which that picture is current, and the summary it shares with the tray
// application. It never talks to the network: the enumerator fills it from
// listings and change pages, the handlers adjust it after the server has
// accepted a change.
//
// Persistence: the snapshot file (see item_snapshot.hpp) is rewritten whole
// and atomically by save(); the bulk operations that say so save on their
// own, callers of the single-record operations call save() afterwards. With
// Saving::coalesced (the domain's store) a save only asks for the rewrite
// and returns; one writer thread rewrites the file from the state of its own
// moment, at most once per kRewriteInterval, so a burst of changes costs one
// rewrite a second (see item_store_saves.hpp); flush() and the destructor
// write what is pending at once. The
// summary file is saved whenever the summary changes. Write failures are
// dropped: the in-memory state stays and the next save catches up. A
// snapshot that cannot be read at start (missing, damaged, foreign,
// half-written) counts as absent: the store starts empty with cursor 0 and
// the next save replaces the file.
//
// The cursor only moves forward with the drive: a change page or a full
// listing older than the store (its cursor below the store's) arrived after
// newer state and is not applied, so that it cannot undo that state. The
// one exception is a full listing asked for while the store already stood
// where it still stands: the drive itself went back (a server reset), and
// its full state is the truth.
//
// Invariants: a record is filed under its own id; `folders` holds no trashed
// folder; `files` holds only synchronisable files (not trashed, standard
// storage); a parent id below 1 is kept as absent (the root), as the wire
// means it.
//
// Threads: every member may be called from any thread. mutex_ guards the
// records, the cursor, the summary and the generations; it is held for the
// whole of one operation, including the encoding of the files that
// operation saves, so operations are serialised and a file always shows the
// state of one moment. The writes happen after mutex_ is released, through
// one OrderedFileWriter per file (its own mutex), which never lets older
// bytes replace newer ones. Lock order: mutex_ is never held while a
// writer's mutex is taken, and writers take no other lock. Nothing here
// waits on the network; only the coalesced writer thread waits on the
// clock, holding none of these locks.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/model/date.hpp"
#include "core/model/domain_summary.hpp"
#include "core/model/drive_records.hpp"
#include "core/model/item_identifier.hpp"
#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "core/support/write_stamps.hpp"
#include "fileprovider/item_store_saves.hpp"
#include "fileprovider/ordered_file_writer.hpp"

namespace cadrio {

class ItemStore {
public:
    using ListingStamp = WriteStamps<std::int64_t>::Stamp;
    struct Locations {
        std::optional<std::filesystem::path> snapshot;  // absent: kept in memory only
        std::optional<std::filesystem::path> summary;
    };

    struct Records {
        std::vector<DriveFolder> folders;
        std::vector<DriveFile> files;
    };
    /// Children of a folder, each list by name in canonical order.
    using Children = Records;

    /// What the host should hear of the items of a page the store had
    /// already gone past: their state in the store now.
    struct CurrentState {
        std::vector<ItemIdentifier> withdrawn;  // named by the page, not in the store
        Records live;                           // named by the page, as the store holds them
    };

    /// The wall clock of recorded conflicts.
    using DateSource = std::function<Date()>;

    /// When the snapshot reaches the disk.
    enum class Saving {
        immediate,  // before save() (or the saving operation) returns
        coalesced,  // by the store's writer thread, kRewriteInterval after its last rewrite at most
    };
    static constexpr std::chrono::seconds kRewriteInterval{1};

    /// Snapshot files larger than this are not read (they cannot be ours).
    static constexpr std::size_t kMaxSnapshotBytes = std::size_t{512} << 20;

    /// The store of a domain, with its files in the shared container
    /// (`ZelvanoCadrio::itemStoreURL` / `summaryURL`), saving coalesced.
    /// Loads both files on the calling thread.
    explicit ItemStore(std::string_view domainIdentifier);
    /// A store over explicit locations; `write` replaces the files
    /// (writeFileAtomically unless a test says otherwise).
    /// Coalesced saves wait on `clock`, which must outlive the store.
    explicit ItemStore(Locations locations, DateSource now = {}, OrderedFileWriter::Write write = {},
                       Saving saving = Saving::immediate, Clock& clock = SystemClock::shared());
    /// Waits for the pending snapshot rewrite, if any.
    ~ItemStore() = default;

    ItemStore(const ItemStore&) = delete;
    ItemStore& operator=(const ItemStore&) = delete;

    const Locations& locations() const noexcept { return locations_; }

    // Reading --------------------------------------------------------------
    std::optional<DriveFile> file(std::int64_t id) const CADRIO_EXCLUDES(mutex_);
    std::optional<DriveFolder> folder(std::int64_t id) const CADRIO_EXCLUDES(mutex_);
    /// Direct children of `parent` (absent: the root), by scanning all
    /// entries.
    Children children(std::optional<std::int64_t> parent) const CADRIO_EXCLUDES(mutex_);
    /// Every record, each list by id.
    Records contents() const CADRIO_EXCLUDES(mutex_);
    /// The files of any folder whose name is equivalent to `name` and whose
    /// hash is `contentHash`, by id.
    std::vector<DriveFile> filesLike(std::string_view name, std::string_view contentHash) const
        CADRIO_EXCLUDES(mutex_);
    /// The store's state of every item `page` names, each once, folders
    /// first, in page order.
    CurrentState currentStateOf(const DriveChanges& page) const CADRIO_EXCLUDES(mutex_);
    std::int64_t cursor() const CADRIO_EXCLUDES(mutex_);
    void setCursor(std::int64_t cursor) CADRIO_EXCLUDES(mutex_);
    DomainSummary summary() const CADRIO_EXCLUDES(mutex_);
    std::size_t folderCount() const CADRIO_EXCLUDES(mutex_);
    std::size_t fileCount() const CADRIO_EXCLUDES(mutex_);
    /// The last record of a file the drive withdrew lately (trashed or
    /// archived by another device), as a change page or listing brought it:
    /// a change sent here that may have landed before the withdrawal is
    /// recognised by its hash. The latest kWithdrawnKept, kept in the
    /// snapshot, so that a restart between the attempt and its retry
    /// forgets none.
    std::optional<DriveFile> withdrawnFile(std::int64_t id) const CADRIO_EXCLUDES(mutex_);
    /// Those of them last seen under `parent` (absent: the root), and those
    /// whose folder the store no longer holds either (withdrawn with it).
    std::vector<DriveFile> withdrawnChildren(std::optional<std::int64_t> parent) const CADRIO_EXCLUDES(mutex_);
    static constexpr std::size_t kWithdrawnKept = 1024;

    // Changing -------------------------------------------------------------
    /// Files trashed folders and unsynchronisable files out, everything
    /// else in, replacing records of the same id; folders first, in order.
    /// Does not save.
    void upsert(std::span<const DriveFolder> folders, std::span<const DriveFile> files) CADRIO_EXCLUDES(mutex_);
    /// The full state of the drive at `cursor`, asked for when the store's
    /// cursor was `askedAt`: replaces everything, sets the cursor, saves,
    /// then rebuilds the summary's archived ids from `files` (the conflicts
    /// stay) and saves the summary. Not applied, and false, when `cursor` is
    /// below the store's and the store has moved since `askedAt` (or
    /// `askedAt` is absent).
    bool replaceAll(std::span<const DriveFolder> folders, std::span<const DriveFile> files, std::int64_t cursor,
                    std::optional<std::int64_t> askedAt = std::nullopt) CADRIO_EXCLUDES(mutex_);
    /// Taken before a folder's listing is asked for: a record written after
    /// it (a change page, an answer) is newer than what the listing holds.
    ListingStamp listingStamp() const CADRIO_EXCLUDES(mutex_);
    /// A listing of one folder asked for at `listedAt`: entries under
    /// `parent` that the listing lacks are dropped, the listing is upserted,
    /// other parents are untouched; records written since `listedAt` stay
    /// as they are. Does not save.
    void replaceChildren(std::optional<std::int64_t> parent, std::span<const DriveFolder> folders,
                         std::span<const DriveFile> files, ListingStamp listedAt) CADRIO_EXCLUDES(mutex_);
    /// One change page: upserts it, moves the cursor, saves, updates and
    /// saves the summary. Returns what the page withdrew: each trashed folder,
    /// then each trashed or unsynchronisable file, in page order. A page
    /// whose cursor is below the store's changes nothing: absent.
    std::optional<std::vector<ItemIdentifier>> applyChanges(const DriveChanges& page) CADRIO_EXCLUDES(mutex_);
    void removeFile(std::int64_t id) CADRIO_EXCLUDES(mutex_);
    void removeFolder(std::int64_t id) CADRIO_EXCLUDES(mutex_);
    /// Records a conflict met now and saves the summary (not the snapshot).
    void recordConflict(std::string originalName, std::string copyName) CADRIO_EXCLUDES(mutex_);
    /// Rewrites the snapshot file (now or soon, as the store saves);
    /// nothing without a location.
    void save() CADRIO_EXCLUDES(mutex_);
    /// Returns once the snapshot file holds every save made before the call
    /// (or the write failed). Must not be called while holding the store.
    void flush();

private:
    /// A file's bytes as of one moment, to be written after the lock.
    struct PendingWrite {
        std::uint64_t generation = 0;
        std::string bytes;
    };

    void upsertLocked(std::span<const DriveFolder> folders, std::span<const DriveFile> files)
        CADRIO_REQUIRES(mutex_);
    void rememberWithdrawnLocked(DriveFile file) CADRIO_REQUIRES(mutex_);
    /// Whether the record of `key` (a folder as -1 - id) was written
    /// after `listedAt`.
    bool newerLocked(std::int64_t key, ListingStamp listedAt) const CADRIO_REQUIRES(mutex_);
    std::optional<PendingWrite> encodeSnapshotLocked() CADRIO_REQUIRES(mutex_);
    std::optional<PendingWrite> encodeSummaryLocked() CADRIO_REQUIRES(mutex_);
    static void write(OrderedFileWriter& file, const std::optional<PendingWrite>& pending);
    /// Encodes and writes the snapshot on the calling thread.
    void saveNow() CADRIO_EXCLUDES(mutex_);
    /// The snapshot to write after an operation, when saving immediately;
    /// absent when coalesced (the writer encodes its own).
    std::optional<PendingWrite> snapshotForImmediateSaveLocked() CADRIO_REQUIRES(mutex_);
    /// After the lock: writes `pending`, or asks the writer.
    void persistSnapshot(const std::optional<PendingWrite>& pending) CADRIO_EXCLUDES(mutex_);
    void load() CADRIO_EXCLUDES(mutex_);

    const Locations locations_;
    const DateSource now_;
    OrderedFileWriter snapshotFile_;
    OrderedFileWriter summaryFile_;

    mutable Mutex mutex_;
    std::unordered_map<std::int64_t, DriveFolder> folders_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_map<std::int64_t, DriveFile> files_ CADRIO_GUARDED_BY(mutex_);
    /// Every write of a record, by id (files as is, folder n as -1 - n); in
    /// memory only, as no listing outlives the process.
    WriteStamps<std::int64_t> stamps_ CADRIO_GUARDED_BY(mutex_);
    /// See withdrawnFile(); `withdrawnOrder_` holds their ids, oldest first.
    std::unordered_map<std::int64_t, DriveFile> withdrawn_ CADRIO_GUARDED_BY(mutex_);
    std::deque<std::int64_t> withdrawnOrder_ CADRIO_GUARDED_BY(mutex_);
    std::int64_t cursor_ CADRIO_GUARDED_BY(mutex_) = 0;
    DomainSummary summary_ CADRIO_GUARDED_BY(mutex_);
    std::uint64_t snapshotGeneration_ CADRIO_GUARDED_BY(mutex_) = 0;  // of the last encoded snapshot
    std::uint64_t summaryGeneration_ CADRIO_GUARDED_BY(mutex_) = 0;   // of the last encoded summary

    // Last: its writer is stopped before the state it saves goes. Null when
    // saving immediately. Lock order: mutex_ is never held across a call.
    const std::unique_ptr<ItemStoreSaves> saves_;
};

}  // namespace cadrio
