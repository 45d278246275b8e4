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
// own, callers of the single-record operations call save() afterwards. The
// summary file is saved whenever the summary changes. Write failures are
// dropped: the in-memory state stays and the next save catches up. A
// snapshot that cannot be read at start (missing, damaged, foreign,
// half-written) counts as absent: the store starts empty with cursor 0 and
// the next save replaces the file.
//
// Invariants: a record is filed under its own id; `folders` holds no trashed
// folder; `files` holds only synchronisable files (not trashed, standard
// storage); a parent id below 1 is kept as absent (the root), as the wire
// means it.
//
// Threads: every member may be called from any thread. mutex_ guards all
// mutable fields and is held for the whole of one operation, including the
// file writes of that operation, so operations are serialised, saves never
// overlap and a saved file always shows the state of one moment. Nothing
// here waits on the network or a timer.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
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

namespace cadrio {

class ItemStore {
public:
    struct Locations {
        std::optional<std::filesystem::path> snapshot;  // absent: kept in memory only
        std::optional<std::filesystem::path> summary;
    };

    struct Children {
        std::vector<DriveFolder> folders;  // by name, canonical order
        std::vector<DriveFile> files;      // by name, canonical order
    };

    /// The wall clock of recorded conflicts.
    using DateSource = std::function<Date()>;

    /// Snapshot files larger than this are not read (they cannot be ours).
    static constexpr std::size_t kMaxSnapshotBytes = std::size_t{512} << 20;

    /// The store of a domain, with its files in the shared container
    /// (`ZelvanoCadrio::itemStoreURL` / `summaryURL`). Loads both files on the
    /// calling thread.
    explicit ItemStore(std::string_view domainIdentifier);
    /// A store over explicit locations.
    explicit ItemStore(Locations locations, DateSource now = {});

    ItemStore(const ItemStore&) = delete;
    ItemStore& operator=(const ItemStore&) = delete;

    const Locations& locations() const noexcept { return locations_; }

    // Reading --------------------------------------------------------------
    std::optional<DriveFile> file(std::int64_t id) const;
    std::optional<DriveFolder> folder(std::int64_t id) const;
    /// Direct children of `parent` (absent: the root), by scanning all
    /// entries.
    Children children(std::optional<std::int64_t> parent) const;
    std::int64_t cursor() const;
    void setCursor(std::int64_t cursor);
    DomainSummary summary() const;
    std::size_t folderCount() const;
    std::size_t fileCount() const;

    // Changing -------------------------------------------------------------
    /// Files trashed folders and unsynchronisable files out, everything
    /// else in, replacing records of the same id; folders first, in order.
    /// Does not save.
    void upsert(std::span<const DriveFolder> folders, std::span<const DriveFile> files);
    /// The full state of the drive: replaces everything, sets the cursor,
    /// saves, then rebuilds the summary's archived ids from `files` (the
    /// conflicts stay) and saves the summary.
    void replaceAll(std::span<const DriveFolder> folders, std::span<const DriveFile> files, std::int64_t cursor);
    /// A fresh listing of one folder: entries under `parent` that the
    /// listing lacks are dropped, the listing is upserted, other parents are
    /// untouched. Does not save.
    void replaceChildren(std::optional<std::int64_t> parent, std::span<const DriveFolder> folders,
                         std::span<const DriveFile> files);
    /// One change page: upserts it, moves the cursor, saves, updates and
    /// saves the summary. Returns what the page withdrew: each trashed folder,
    /// then each trashed or unsynchronisable file, in page order.
    std::vector<ItemIdentifier> applyChanges(const DriveChanges& page);
    void removeFile(std::int64_t id);
    void removeFolder(std::int64_t id);
    /// Records a conflict met now and saves the summary (not the snapshot).
    void recordConflict(std::string originalName, std::string copyName);
    /// Rewrites the snapshot file; nothing without a location.
    void save();

private:
    void upsertLocked(std::span<const DriveFolder> folders, std::span<const DriveFile> files);
    void saveLocked() const;
    void saveSummaryLocked() const;
    void load();

    const Locations locations_;
    const DateSource now_;

    mutable std::mutex mutex_;
    std::unordered_map<std::int64_t, DriveFolder> folders_;  // guarded by mutex_
    std::unordered_map<std::int64_t, DriveFile> files_;      // guarded by mutex_
    std::int64_t cursor_ = 0;                                // guarded by mutex_
    DomainSummary summary_;                                  // guarded by mutex_
};

}  // namespace cadrio
