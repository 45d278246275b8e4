// Folder and file metadata changes: create, rename, move, trash.

#include "devserver/drive_store.hpp"

#include "devserver/drive_store_state.hpp"
#include "devserver/service_error.hpp"

#include <set>

namespace cadrio::devserver {
namespace {

/// 423 for a file open in the online editor, 409 "reinforced" for one in
/// reinforced storage: neither may be changed by a client.
void requireEditable(const FileRecord& file) {
    if (file.locked) throw ServiceError(423, "locked", "Fichier ouvert dans l'éditeur en ligne.");
    if (file.reinforced) {
        throw ServiceError(409, "reinforced", "Fichier en stockage renforcé.", "reinforced");
    }
}

FolderRecord& liveFolderRecord(AccountDrive& drive, std::int64_t id) {
    const auto it = drive.folders.find(id);
    if (it == drive.folders.end() || it->second.trashed) throw notFound("Dossier introuvable.");
    return it->second;
}

/// 400 when `folderId` would become its own descendant under `target`.
void requireNoCycle(const AccountDrive& drive, std::int64_t folderId, std::int64_t target) {
    if (drive.isSelfOrAncestor(folderId, target)) {
        throw badRequest("Un dossier ne peut pas aller dans lui-même ou dans un de ses sous-dossiers.");
    }
}

/// Trashes the live content of `folderId`, depth first.
void trashContent(AccountDrive& drive, std::int64_t folderId, std::int64_t seq) {
    for (auto& [id, file] : drive.files) {
        if (file.folderId == folderId && !file.trashed) {
            file.trashed = true;
            file.changeSeq = seq;
        }
    }
    for (auto& [id, folder] : drive.folders) {
        if (folder.parentId == folderId && !folder.trashed) {
            folder.trashed = true;
            folder.changeSeq = seq;
            trashContent(drive, id, seq);
        }
    }
}

}  // namespace

std::int64_t DriveStore::createFolder(const std::string& account, const std::string& name,
                                      std::int64_t parentId) {
    validateItemName(name);
    std::int64_t newId = 0;
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t now)
                            CADRIO_REQUIRES(state_->mutex) {
        requireFolder(drive, parentId);
        newId = state_->nextId++;
        drive.folders[newId] = FolderRecord{newId, parentId, name, now, now, false, seq};
        return true;
    });
    return newId;
}

void DriveStore::updateFolder(const std::string& account, std::int64_t id,
                              const std::optional<std::string>& name,
                              const std::optional<std::int64_t>& parentId) {
    if (name) validateItemName(*name);
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t now) {
        auto& folder = liveFolderRecord(drive, id);
        if (parentId) {
            requireFolder(drive, *parentId);
            requireNoCycle(drive, id, *parentId);
        }
        if (!name && !parentId) return false;
        if (name) {
            folder.name = *name;
            folder.dateModified = now;
        }
        if (parentId) folder.parentId = *parentId;
        folder.changeSeq = seq;
        return true;
    });
}

void DriveStore::renameFile(const std::string& account, std::int64_t id, const std::string& name) {
    validateItemName(name);
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t now) {
        auto& file = liveFile(drive, id);
        requireEditable(file);
        file.name = name;
        file.dateModified = now;
        file.changeSeq = seq;
        return true;
    });
}

void DriveStore::move(const std::string& account, const std::vector<std::int64_t>& fileIds,
                      const std::vector<std::int64_t>& folderIds, std::int64_t targetFolderId) {
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t) {
        requireFolder(drive, targetFolderId);
        for (const auto id : fileIds) requireEditable(liveFile(drive, id));
        for (const auto id : folderIds) {
            liveFolderRecord(drive, id);
            requireNoCycle(drive, id, targetFolderId);
        }
        for (const auto id : fileIds) {
            auto& file = liveFile(drive, id);
            file.folderId = targetFolderId;
            file.changeSeq = seq;
        }
        for (const auto id : folderIds) {
            auto& folder = liveFolderRecord(drive, id);
            folder.parentId = targetFolderId;
            folder.changeSeq = seq;
        }
        return !fileIds.empty() || !folderIds.empty();
    });
}

void DriveStore::trash(const std::string& account, const std::vector<std::int64_t>& fileIds,
                       const std::vector<std::int64_t>& folderIds) {
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t) {
        // Items already in the trash are accepted: a repeated request
        // (a retry after a lost answer) must not fail.
        std::set<std::int64_t> files;
        std::set<std::int64_t> folders;
        for (const auto id : fileIds) {
            const auto it = drive.files.find(id);
            if (it == drive.files.end()) throw notFound("Fichier introuvable.");
            if (it->second.trashed) continue;
            requireEditable(it->second);
            files.insert(id);
        }
        for (const auto id : folderIds) {
            const auto it = drive.folders.find(id);
            if (it == drive.folders.end()) throw notFound("Dossier introuvable.");
            if (!it->second.trashed) folders.insert(id);
        }
        for (const auto id : files) {
            drive.files[id].trashed = true;
            drive.files[id].changeSeq = seq;
        }
        for (const auto id : folders) {
            auto& folder = drive.folders[id];
            if (folder.trashed) continue;  // already taken by a trashed ancestor
            folder.trashed = true;
            folder.changeSeq = seq;
            trashContent(drive, id, seq);
        }
        return !files.empty() || !folders.empty();
    });
}

}  // namespace cadrio::devserver
