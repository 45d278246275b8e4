#pragma once
// Every account's drive: metadata of folders and files, cursors, trash,
// storage classes, locks and quota. Contents live in the BlobStore; a file
// record names its object by `storageKey`.
//
// Thread safety: one mutex guards every drive and the id counter. It is held
// for the state access only: never across socket or file I/O, never while
// the change listener runs. Refusals are thrown as ServiceError before
// anything is changed, so a refused request leaves the drive as it was.
//
// Every accepted change of a drive takes the next cursor of that drive
// (strictly increasing). After every change of any kept state the change
// listener runs with the account (lower-cased e-mail), outside the mutex.

#include "devserver/drive_state.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cadrio::devserver {

struct ChangesPage {
    std::int64_t cursor = 0;
    std::vector<FolderRecord> folders;
    std::vector<FileRecord> files;
};

/// Content already stored in the blob store, to attach to a file.
struct StoredContent {
    std::string storageKey;
    std::int64_t size = 0;
    std::string contentHash;
    std::string contentType;
};

struct NewFile {
    std::string name;
    std::int64_t folderId = kRootFolderId;
    StoredContent content;
    std::string storageClass = "standard";
    std::vector<std::string> thumbnailKeys;
};

struct ReplacePreconditions {
    std::optional<std::string> ifContentHash;
    std::optional<std::int64_t> ifDateUpload;
};

struct ReplaceResult {
    FileRecord file;
    std::string replacedKey;   // the object the file no longer uses
};

class DriveStore {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    /// `driveChanged` false: only the state kept for the drive changed
    /// (lock, quota, horizon, account), which clients do not see in the feed.
    using ChangeListener = std::function<void(const std::string& account, bool driveChanged)>;

    explicit DriveStore(Clock clock);
    ~DriveStore();
    DriveStore(const DriveStore&) = delete;
    DriveStore& operator=(const DriveStore&) = delete;

    /// Set before the server starts; called after every change.
    void setChangeListener(ChangeListener listener);

    // Accounts -----------------------------------------------------------
    /// Creates the account's empty drive, or updates the profile of an existing
    /// one (its contents stay).
    void addAccount(const AccountSpec& profile);
    bool hasAccount(const std::string& account) const;
    std::vector<AccountSpec> accountSpecs() const;
    /// Forgets every drive. Returns the storage keys that are no longer used.
    std::vector<std::string> reset();

    // Queries (404 for an unknown or trashed folder or file) -------------
    std::vector<FolderRecord> folders(const std::string& account, std::int64_t parentId) const;
    std::vector<FileRecord> files(const std::string& account, std::int64_t folderId,
                                  std::size_t limit) const;
    /// 400 for a negative cursor; 410 for one below the retention horizon
    /// or beyond the current cursor (0 always gives the whole drive).
    ChangesPage changes(const std::string& account, std::int64_t since) const;
    /// Used and maximum, in bytes.
    std::pair<std::int64_t, std::int64_t> quota(const std::string& account) const;
    /// A live file whose content may be read: 404 when absent or trashed,
    /// 409 "archived" when not in standard storage.
    FileRecord readableFile(const std::string& account, std::int64_t id) const;
    /// True when a live standard file of the account has this thumbnail key.
    bool hasThumbnail(const std::string& account, const std::string& key) const;
    /// 404 unless the folder is the root or a live folder.
    void checkFolder(const std::string& account, std::int64_t folderId) const;
    /// The checks of a content replacement that do not depend on the new
    /// content (404, 423, 409 archived/reinforced, 409 precondition), to
    /// refuse before a body is stored. replaceContent checks again.
    void checkReplaceable(const std::string& account, std::int64_t id,
                          const ReplacePreconditions& preconditions) const;

    // Changes ----------------------------------------------------------
    std::int64_t createFolder(const std::string& account, const std::string& name,
                              std::int64_t parentId);
    void updateFolder(const std::string& account, std::int64_t id,
                      const std::optional<std::string>& name,
                      const std::optional<std::int64_t>& parentId);
    void renameFile(const std::string& account, std::int64_t id, const std::string& name);
    void move(const std::string& account, const std::vector<std::int64_t>& fileIds,
              const std::vector<std::int64_t>& folderIds, std::int64_t targetFolderId);
    /// Trashes the items; a folder takes its whole content with it.
    void trash(const std::string& account, const std::vector<std::int64_t>& fileIds,
               const std::vector<std::int64_t>& folderIds);
    FileRecord createFile(const std::string& account, const NewFile& file);
    /// `asOwner` false: the client's rules (lock, archive, reinforced,
    /// preconditions); true: another device of the owner, which only needs
    /// the file to exist.
    ReplaceResult replaceContent(const std::string& account, std::int64_t id,
                                 const ReplacePreconditions& preconditions,
                                 const StoredContent& content, bool asOwner = false);

    // Administration ---------------------------------------------------
    void setStorageClass(const std::string& account, std::int64_t fileId, const std::string& storageClass);
    void setLocked(const std::string& account, std::int64_t fileId, bool locked);
    void setReinforced(const std::string& account, std::int64_t fileId, bool reinforced);
    void setQuota(const std::string& account, double megabytes);
    /// Moves the retention horizon to `horizon` (default: the current
    /// cursor); returns the horizon.
    std::int64_t expireCursors(const std::string& account, std::optional<std::int64_t> horizon);
    /// The drive as JSON, for inspection.
    nlohmann::json describe(const std::string& account) const;

    // Persistence ------------------------------------------------------
    /// Every drive as JSON, with a version that grows with every change.
    nlohmann::json snapshot(std::uint64_t& version) const;
    /// Replaces every drive by a snapshot. Throws std::runtime_error naming
    /// what is wrong when the snapshot is malformed; nothing changes then.
    void restore(const nlohmann::json& snapshot);
    /// Every storage key in use (contents and thumbnails).
    std::vector<std::string> storageKeys() const;

private:
    struct State;
    using Edit = std::function<bool(AccountDrive& drive, std::int64_t seq, std::int64_t now)>;
    /// Runs `edit` under the mutex; when it reports a change, the drive's
    /// cursor becomes `seq` and the listener runs after the unlock.
    void change(const std::string& account, const Edit& edit);
    /// Runs `edit` under the mutex for state that is not part of the feed.
    void touch(const std::string& account, const std::function<void(AccountDrive& drive)>& edit);
    std::int64_t nowSeconds() const;

    Clock clock_;
    std::unique_ptr<State> state_;
};

/// 400 unless `name` can name a file or folder: not empty, at most 255
/// bytes, valid UTF-8, no "/" or NUL, not "." or "..".
void validateItemName(const std::string& name);

}  // namespace cadrio::devserver
