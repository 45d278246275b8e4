#pragma once
// The drive of one account as the server keeps it: folders, files and the
// change cursor. Plain values; DriveStore owns them and guards them.
//
// Times are whole seconds since 1970-01-01 UTC. The root folder is the id 0
// and has no record. `changeSeq` is the cursor of the last change of the
// item: the change feed after cursor C holds the items whose changeSeq > C.

#include "devserver/auth_service.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cadrio::devserver {

inline constexpr std::int64_t kRootFolderId = 0;
inline constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

struct FolderRecord {
    std::int64_t id = 0;
    std::int64_t parentId = kRootFolderId;
    std::string name;
    std::int64_t dateCreation = 0;
    std::int64_t dateModified = 0;
    bool trashed = false;
    std::int64_t changeSeq = 0;
};

struct FileRecord {
    std::int64_t id = 0;
    std::int64_t folderId = kRootFolderId;
    std::string name;
    std::string storageKey;     // key of the content object in the blob store
    std::string contentType;
    std::int64_t size = 0;
    std::string contentHash;    // SHA-256, lower-case hex
    std::int64_t dateModified = 0;
    std::int64_t dateUpload = 0;  // strictly increases with every content upload
    bool trashed = false;
    std::string storageClass = "standard";
    std::vector<std::string> thumbnailKeys;
    bool locked = false;        // open in the online editor: 423
    bool reinforced = false;    // reinforced storage: 409 "reinforced"
    std::int64_t changeSeq = 0;
};

struct AccountDrive {
    AccountSpec profile;
    std::int64_t cursor = 0;    // cursor of the latest change
    std::int64_t horizon = 0;   // cursors below it (except 0) have expired
    std::map<std::int64_t, FolderRecord> folders;
    std::map<std::int64_t, FileRecord> files;

    std::int64_t usedBytes() const;
    std::int64_t quotaBytes() const;
    /// The folder, when it exists and is not trashed (never the root).
    const FolderRecord* liveFolder(std::int64_t id) const;
    /// True when `ancestor` is `id` itself or one of its parents.
    bool isSelfOrAncestor(std::int64_t ancestor, std::int64_t id) const;
};

/// The key of an account: its e-mail in ASCII lower case.
inline std::string accountKey(std::string email) {
    for (auto& c : email) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return email;
}

inline bool isStorageClass(const std::string& value) {
    return value == "standard" || value == "glacier" || value == "archiving" ||
           value == "unarchiving" || value == "restoring";
}

}  // namespace cadrio::devserver
