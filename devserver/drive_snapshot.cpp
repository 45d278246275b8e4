// DriveStore as JSON: the snapshot written to the data directory, its
// strict reading back, and the inspection view of the admin API.

#include "devserver/drive_store.hpp"

#include "devserver/drive_store_state.hpp"
#include "devserver/service_error.hpp"
#include "devserver/wire_json.hpp"

#include <stdexcept>

namespace cadrio::devserver {
namespace {

constexpr int kSnapshotFormat = 1;

nlohmann::json profileToJSON(const AccountSpec& profile) {
    return {
        {"email", profile.email},
        {"password", profile.password},
        {"methods", profile.methods},
        {"totp_secret", profile.totpSecretBase32},
        {"recovery_codes", profile.recoveryCodes},
        {"quota_max_mb", profile.quotaMaxMegabytes},
    };
}

std::vector<std::string> textList(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return {};
    if (!it->is_array()) throw badRequest(std::string("\"") + key + "\" : liste attendue.");
    std::vector<std::string> result;
    for (const auto& element : *it) {
        if (!element.is_string()) throw badRequest(std::string("\"") + key + "\" : textes attendus.");
        result.push_back(element.get<std::string>());
    }
    return result;
}

AccountSpec profileFromJSON(const nlohmann::json& json) {
    AccountSpec profile;
    profile.email = requireText(json, "email");
    profile.password = requireText(json, "password");
    profile.methods = textList(json, "methods");
    profile.totpSecretBase32 = optionalText(json, "totp_secret").value_or("");
    profile.recoveryCodes = textList(json, "recovery_codes");
    const auto quota = json.find("quota_max_mb");
    if (quota == json.end() || !quota->is_number()) throw badRequest("\"quota_max_mb\" manquant.");
    profile.quotaMaxMegabytes = quota->get<double>();
    return profile;
}

FolderRecord folderFromJSON(const nlohmann::json& json) {
    FolderRecord folder;
    folder.id = requireInt(json, "id");
    folder.parentId = requireInt(json, "id_parent");
    folder.name = requireText(json, "folder_name");
    folder.dateCreation = requireInt(json, "date_creation");
    folder.dateModified = requireInt(json, "date_modified");
    folder.trashed = requireInt(json, "to_delete") != 0;
    folder.changeSeq = requireInt(json, "change_seq");
    return folder;
}

FileRecord fileFromJSON(const nlohmann::json& json) {
    FileRecord file;
    file.id = requireInt(json, "id");
    file.folderId = requireInt(json, "id_folder");
    file.name = requireText(json, "file_name");
    file.storageKey = requireText(json, "file_path");
    file.contentType = optionalText(json, "content_type").value_or("");
    file.size = requireInt(json, "file_size");
    file.contentHash = requireText(json, "content_hash");
    file.dateModified = requireInt(json, "date_modified");
    file.dateUpload = requireInt(json, "date_upload");
    file.trashed = requireInt(json, "to_delete") != 0;
    file.storageClass = requireText(json, "storage_class");
    file.thumbnailKeys = textList(json, "thumbnails");
    file.locked = optionalBool(json, "locked").value_or(false);
    file.reinforced = optionalBool(json, "reinforced").value_or(false);
    file.changeSeq = requireInt(json, "change_seq");
    if (!isStorageClass(file.storageClass)) throw badRequest("classe de stockage inconnue");
    if (file.size < 0) throw badRequest("taille négative");
    return file;
}

/// Every id positive and below `nextId`, every parent present, no cycle.
void checkDrive(const AccountDrive& drive, std::int64_t nextId) {
    const auto checkId = [&](std::int64_t id) {
        if (id <= 0 || id >= nextId) throw badRequest("identifiant hors limites : " + std::to_string(id));
    };
    for (const auto& [id, folder] : drive.folders) {
        checkId(id);
        if (folder.parentId != kRootFolderId && drive.folders.count(folder.parentId) == 0) {
            throw badRequest("dossier parent absent : " + std::to_string(folder.parentId));
        }
        if (folder.parentId != kRootFolderId && drive.isSelfOrAncestor(id, folder.parentId)) {
            throw badRequest("cycle de dossiers autour de " + std::to_string(id));
        }
    }
    for (const auto& [id, file] : drive.files) {
        checkId(id);
        if (file.folderId != kRootFolderId && drive.folders.count(file.folderId) == 0) {
            throw badRequest("dossier absent pour le fichier " + std::to_string(id));
        }
        if (file.changeSeq > drive.cursor) throw badRequest("curseur incohérent");
    }
}

nlohmann::json driveToJSON(const AccountDrive& drive, bool withSecrets) {
    nlohmann::json folders = nlohmann::json::array();
    for (const auto& [id, folder] : drive.folders) {
        auto json = folderToWire(folder);
        json["change_seq"] = folder.changeSeq;
        folders.push_back(std::move(json));
    }
    nlohmann::json files = nlohmann::json::array();
    for (const auto& [id, file] : drive.files) {
        auto json = fileToWire(file);
        json.erase("file_miniatures_path");
        json["thumbnails"] = file.thumbnailKeys;
        json["locked"] = file.locked;
        json["reinforced"] = file.reinforced;
        json["change_seq"] = file.changeSeq;
        files.push_back(std::move(json));
    }
    nlohmann::json profile = profileToJSON(drive.profile);
    if (!withSecrets) profile = {{"email", drive.profile.email}, {"quota_max_mb", drive.profile.quotaMaxMegabytes}};
    return {{"profile", profile}, {"cursor", drive.cursor}, {"horizon", drive.horizon},
            {"used_bytes", drive.usedBytes()}, {"folders", folders}, {"files", files}};
}

}  // namespace

nlohmann::json DriveStore::snapshot(std::uint64_t& version) const {
    LockGuard lock(state_->mutex);
    version = state_->version;
    nlohmann::json accounts = nlohmann::json::array();
    for (const auto& [key, drive] : state_->drives) accounts.push_back(driveToJSON(drive, true));
    return {{"format", kSnapshotFormat}, {"next_id", state_->nextId}, {"accounts", accounts}};
}

nlohmann::json DriveStore::describe(const std::string& account) const {
    LockGuard lock(state_->mutex);
    return driveToJSON(state_->drive(account), false);
}

void DriveStore::restore(const nlohmann::json& snapshot) {
    std::map<std::string, AccountDrive> drives;
    std::int64_t nextId = 1;
    try {
        if (!snapshot.is_object() || optionalInt(snapshot, "format") != kSnapshotFormat) {
            throw badRequest("format inconnu");
        }
        nextId = requireInt(snapshot, "next_id");
        const auto accounts = snapshot.find("accounts");
        if (accounts == snapshot.end() || !accounts->is_array()) throw badRequest("\"accounts\" manquant");
        for (const auto& json : *accounts) {
            AccountDrive drive;
            drive.profile = profileFromJSON(json.at("profile"));
            drive.cursor = requireInt(json, "cursor");
            drive.horizon = requireInt(json, "horizon");
            for (const auto& folder : json.at("folders")) {
                auto record = folderFromJSON(folder);
                drive.folders[record.id] = std::move(record);
            }
            for (const auto& file : json.at("files")) {
                auto record = fileFromJSON(file);
                drive.files[record.id] = std::move(record);
            }
            checkDrive(drive, nextId);
            const auto key = accountKey(drive.profile.email);
            if (!drives.emplace(key, std::move(drive)).second) throw badRequest("compte en double : " + key);
        }
    } catch (const ServiceError& error) {
        throw std::runtime_error(std::string("état enregistré illisible : ") + error.what());
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(std::string("état enregistré illisible : ") + error.what());
    }
    LockGuard lock(state_->mutex);
    state_->drives = std::move(drives);
    state_->nextId = nextId;
    ++state_->version;
}

}  // namespace cadrio::devserver
