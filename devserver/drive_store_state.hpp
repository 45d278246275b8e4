#pragma once
// Internal state of DriveStore, shared by its translation units. Not for
// use outside drive_store*.cpp.

#include "devserver/drive_store.hpp"

#include <map>
#include <mutex>
#include <string>

namespace cadrio::devserver {

struct DriveStore::State {
    mutable std::mutex mutex;
    ChangeListener listener;                    // set before serving; read without the mutex
    std::map<std::string, AccountDrive> drives;  // key: lower-cased e-mail; guarded by mutex
    std::int64_t nextId = 1;                    // guarded by mutex
    std::uint64_t version = 0;                  // guarded by mutex

    /// The account's drive; 404 when unknown. Caller holds the mutex.
    AccountDrive& drive(const std::string& account);
    const AccountDrive& drive(const std::string& account) const;
};

/// The file, when it exists and is not trashed; 404 otherwise.
const FileRecord& liveFile(const AccountDrive& drive, std::int64_t id);
FileRecord& liveFile(AccountDrive& drive, std::int64_t id);

/// 404 unless the folder is the root or a live folder.
void requireFolder(const AccountDrive& drive, std::int64_t folderId);

}  // namespace cadrio::devserver
