#pragma once
// Internal state of DriveStore, shared by its translation units. Not for
// use outside drive_store*.cpp.

#include "devserver/drive_store.hpp"

#include "core/support/thread_annotations.hpp"

#include <map>
#include <string>

namespace cadrio::devserver {

struct DriveStore::State {
    mutable Mutex mutex;
    ChangeListener listener;  // set before serving; read without the mutex
    std::map<std::string, AccountDrive> drives CADRIO_GUARDED_BY(mutex);  // key: lower-cased e-mail
    std::int64_t nextId CADRIO_GUARDED_BY(mutex) = 1;
    std::uint64_t version CADRIO_GUARDED_BY(mutex) = 0;

    /// The account's drive; 404 when unknown.
    AccountDrive& drive(const std::string& account) CADRIO_REQUIRES(mutex);
    const AccountDrive& drive(const std::string& account) const CADRIO_REQUIRES(mutex);
};

/// The file, when it exists and is not trashed; 404 otherwise.
const FileRecord& liveFile(const AccountDrive& drive, std::int64_t id);
FileRecord& liveFile(AccountDrive& drive, std::int64_t id);

/// 404 unless the folder is the root or a live folder.
void requireFolder(const AccountDrive& drive, std::int64_t folderId);

}  // namespace cadrio::devserver
