// File contents (new files, replacements under preconditions) and the
// administration of files and cursors.

#include "devserver/drive_store.hpp"

#include "devserver/drive_store_state.hpp"
#include "devserver/service_error.hpp"

#include <algorithm>

namespace cadrio::devserver {
namespace {

void requireQuota(const AccountDrive& drive, std::int64_t additionalBytes) {
    if (additionalBytes > 0 && drive.usedBytes() + additionalBytes > drive.quotaBytes()) {
        throw ServiceError(507, "insufficient_quota", "Espace de stockage insuffisant.");
    }
}

/// The client's rules for replacing a file's content, in the order a
/// client would want to learn about them.
void requireReplaceable(const FileRecord& file, const ReplacePreconditions& preconditions) {
    if (file.locked) throw ServiceError(423, "locked", "Fichier ouvert dans l'éditeur en ligne.");
    if (file.storageClass != "standard") {
        throw ServiceError(409, "archived", "Fichier archivé.", "archived");
    }
    if (file.reinforced) {
        throw ServiceError(409, "reinforced", "Fichier en stockage renforcé.", "reinforced");
    }
    const bool hashMoved = preconditions.ifContentHash && *preconditions.ifContentHash != file.contentHash;
    const bool uploadMoved = preconditions.ifDateUpload && *preconditions.ifDateUpload != file.dateUpload;
    if (hashMoved || uploadMoved) {
        throw ServiceError(409, "version_conflict", "Le contenu a changé depuis la version indiquée.");
    }
}

FileRecord& anyFile(AccountDrive& drive, std::int64_t id) {
    const auto it = drive.files.find(id);
    if (it == drive.files.end()) throw notFound("Fichier introuvable.");
    return it->second;
}

}  // namespace

void DriveStore::checkReplaceable(const std::string& account, std::int64_t id,
                                  const ReplacePreconditions& preconditions) const {
    LockGuard lock(state_->mutex);
    requireReplaceable(liveFile(state_->drive(account), id), preconditions);
}

FileRecord DriveStore::createFile(const std::string& account, const NewFile& request) {
    validateItemName(request.name);
    if (!isStorageClass(request.storageClass)) throw badRequest("Classe de stockage inconnue.");
    FileRecord created;
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t now)
                            CADRIO_REQUIRES(state_->mutex) {
        requireFolder(drive, request.folderId);
        requireQuota(drive, request.content.size);
        FileRecord file;
        file.id = state_->nextId++;
        file.folderId = request.folderId;
        file.name = request.name;
        file.storageKey = request.content.storageKey;
        file.contentType = request.content.contentType;
        file.size = request.content.size;
        file.contentHash = request.content.contentHash;
        file.dateModified = now;
        file.dateUpload = now;
        file.storageClass = request.storageClass;
        file.thumbnailKeys = request.thumbnailKeys;
        file.changeSeq = seq;
        drive.files[file.id] = file;
        created = file;
        return true;
    });
    return created;
}

ReplaceResult DriveStore::replaceContent(const std::string& account, std::int64_t id,
                                         const ReplacePreconditions& preconditions,
                                         const StoredContent& content, bool asOwner) {
    ReplaceResult result;
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t now) {
        auto& file = liveFile(drive, id);
        if (!asOwner) requireReplaceable(file, preconditions);
        requireQuota(drive, content.size - file.size);
        result.replacedKey = file.storageKey;
        file.storageKey = content.storageKey;
        if (!content.contentType.empty()) file.contentType = content.contentType;
        file.size = content.size;
        file.contentHash = content.contentHash;
        file.dateModified = now;
        // Strictly later than the previous upload even within one second,
        // so that an "if_date_upload" taken before this upload never passes.
        file.dateUpload = std::max(now, file.dateUpload + 1);
        file.changeSeq = seq;
        result.file = file;
        return true;
    });
    return result;
}

void DriveStore::setStorageClass(const std::string& account, std::int64_t fileId,
                                 const std::string& storageClass) {
    if (!isStorageClass(storageClass)) throw badRequest("Classe de stockage inconnue.");
    change(account, [&](AccountDrive& drive, std::int64_t seq, std::int64_t) {
        auto& file = anyFile(drive, fileId);
        if (file.storageClass == storageClass) return false;
        file.storageClass = storageClass;
        file.changeSeq = seq;
        return true;
    });
}

void DriveStore::setLocked(const std::string& account, std::int64_t fileId, bool locked) {
    // A lock is not a change of the drive's content: no new cursor.
    touch(account, [&](AccountDrive& drive) { anyFile(drive, fileId).locked = locked; });
}

void DriveStore::setReinforced(const std::string& account, std::int64_t fileId, bool reinforced) {
    touch(account, [&](AccountDrive& drive) { anyFile(drive, fileId).reinforced = reinforced; });
}

void DriveStore::setQuota(const std::string& account, double megabytes) {
    if (!(megabytes >= 0) || megabytes > 1e12) throw badRequest("Quota invalide.");
    touch(account, [&](AccountDrive& drive) { drive.profile.quotaMaxMegabytes = megabytes; });
}

std::int64_t DriveStore::expireCursors(const std::string& account, std::optional<std::int64_t> horizon) {
    if (horizon && *horizon < 0) throw badRequest("Horizon négatif.");
    std::int64_t value = 0;
    touch(account, [&](AccountDrive& drive) {
        value = horizon.value_or(drive.cursor);
        drive.horizon = value;
    });
    return value;
}

}  // namespace cadrio::devserver
