#include "devserver/drive_store.hpp"

#include "devserver/drive_store_state.hpp"
#include "devserver/service_error.hpp"

#include <algorithm>

namespace cadrio::devserver {

// AccountDrive --------------------------------------------------------------

std::int64_t AccountDrive::usedBytes() const {
    std::int64_t used = 0;
    for (const auto& [id, file] : files) {
        if (!file.trashed) used += file.size;
    }
    return used;
}

std::int64_t AccountDrive::quotaBytes() const {
    return static_cast<std::int64_t>(profile.quotaMaxMegabytes * kBytesPerMegabyte);
}

const FolderRecord* AccountDrive::liveFolder(std::int64_t id) const {
    const auto it = folders.find(id);
    return it == folders.end() || it->second.trashed ? nullptr : &it->second;
}

bool AccountDrive::isSelfOrAncestor(std::int64_t ancestor, std::int64_t id) const {
    // Bounded walk: a corrupted parent chain cannot loop forever.
    for (std::size_t steps = 0; steps <= folders.size(); ++steps) {
        if (id == ancestor) return true;
        if (id == kRootFolderId) return false;
        const auto it = folders.find(id);
        if (it == folders.end()) return false;
        id = it->second.parentId;
    }
    return true;
}

// Shared helpers -------------------------------------------------------------

AccountDrive& DriveStore::State::drive(const std::string& account) {
    const auto it = drives.find(account);
    if (it == drives.end()) throw notFound("Compte inconnu.");
    return it->second;
}

const AccountDrive& DriveStore::State::drive(const std::string& account) const {
    return const_cast<State*>(this)->drive(account);
}

FileRecord& liveFile(AccountDrive& drive, std::int64_t id) {
    const auto it = drive.files.find(id);
    if (it == drive.files.end() || it->second.trashed) throw notFound("Fichier introuvable.");
    return it->second;
}

const FileRecord& liveFile(const AccountDrive& drive, std::int64_t id) {
    return liveFile(const_cast<AccountDrive&>(drive), id);
}

void requireFolder(const AccountDrive& drive, std::int64_t folderId) {
    if (folderId != kRootFolderId && drive.liveFolder(folderId) == nullptr) {
        throw notFound("Dossier introuvable.");
    }
}

void validateItemName(const std::string& name) {
    if (name.empty() || name.size() > 255) {
        throw badRequest("Le nom doit compter de 1 à 255 octets.");
    }
    if (name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw badRequest("Nom invalide.");
    }
    // UTF-8 well-formedness: lead byte, then the right number of
    // continuation bytes, no overlong or surrogate forms.
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + length > name.size()) throw badRequest("Nom invalide (UTF-8).");
        std::uint32_t code = length == 1 ? c : c & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xc0) != 0x80) throw badRequest("Nom invalide (UTF-8).");
            code = (code << 6) | (next & 0x3f);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            throw badRequest("Nom invalide (UTF-8).");
        }
        i += length;
    }
}

// DriveStore ----------------------------------------------------------------

DriveStore::DriveStore(Clock clock) : clock_(std::move(clock)), state_(std::make_unique<State>()) {}
DriveStore::~DriveStore() = default;

void DriveStore::setChangeListener(ChangeListener listener) { state_->listener = std::move(listener); }

std::int64_t DriveStore::nowSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
}

void DriveStore::change(const std::string& account, const Edit& edit) {
    const auto now = nowSeconds();
    {
        LockGuard lock(state_->mutex);
        auto& drive = state_->drive(account);
        if (!edit(drive, drive.cursor + 1, now)) return;
        ++drive.cursor;
        ++state_->version;
    }
    if (state_->listener) state_->listener(account, true);
}

void DriveStore::touch(const std::string& account, const std::function<void(AccountDrive& drive)>& edit) {
    {
        LockGuard lock(state_->mutex);
        edit(state_->drive(account));
        ++state_->version;
    }
    if (state_->listener) state_->listener(account, false);
}

void DriveStore::addAccount(const AccountSpec& profile) {
    const auto key = accountKey(profile.email);
    {
        LockGuard lock(state_->mutex);
        state_->drives[key].profile = profile;
        ++state_->version;
    }
    if (state_->listener) state_->listener(key, false);
}

bool DriveStore::hasAccount(const std::string& account) const {
    LockGuard lock(state_->mutex);
    return state_->drives.count(account) > 0;
}

std::vector<AccountSpec> DriveStore::accountSpecs() const {
    LockGuard lock(state_->mutex);
    std::vector<AccountSpec> profiles;
    for (const auto& [key, drive] : state_->drives) profiles.push_back(drive.profile);
    return profiles;
}

std::vector<std::string> DriveStore::reset() {
    auto keys = storageKeys();
    LockGuard lock(state_->mutex);
    state_->drives.clear();
    state_->nextId = 1;
    ++state_->version;
    return keys;
}

std::vector<FolderRecord> DriveStore::folders(const std::string& account, std::int64_t parentId) const {
    LockGuard lock(state_->mutex);
    const auto& drive = state_->drive(account);
    requireFolder(drive, parentId);
    std::vector<FolderRecord> result;
    for (const auto& [id, folder] : drive.folders) {
        if (!folder.trashed && folder.parentId == parentId) result.push_back(folder);
    }
    return result;
}

std::vector<FileRecord> DriveStore::files(const std::string& account, std::int64_t folderId,
                                          std::size_t limit) const {
    LockGuard lock(state_->mutex);
    const auto& drive = state_->drive(account);
    requireFolder(drive, folderId);
    std::vector<FileRecord> result;
    for (const auto& [id, file] : drive.files) {
        if (result.size() >= limit) break;
        if (!file.trashed && file.folderId == folderId) result.push_back(file);
    }
    return result;
}

ChangesPage DriveStore::changes(const std::string& account, std::int64_t since) const {
    if (since < 0) throw badRequest("Curseur négatif.");
    LockGuard lock(state_->mutex);
    const auto& drive = state_->drive(account);
    if (since != 0 && (since < drive.horizon || since > drive.cursor)) {
        throw ServiceError(410, "cursor_expired", "Curseur expiré : relecture complète nécessaire.");
    }
    ChangesPage page;
    page.cursor = drive.cursor;
    for (const auto& [id, folder] : drive.folders) {
        if (folder.changeSeq > since) page.folders.push_back(folder);
    }
    for (const auto& [id, file] : drive.files) {
        if (file.changeSeq > since) page.files.push_back(file);
    }
    // Oldest change first; ids break ties so that parents created in the
    // same change come before their children.
    const auto order = [](const auto& a, const auto& b) {
        return a.changeSeq != b.changeSeq ? a.changeSeq < b.changeSeq : a.id < b.id;
    };
    std::sort(page.folders.begin(), page.folders.end(), order);
    std::sort(page.files.begin(), page.files.end(), order);
    return page;
}

std::pair<std::int64_t, std::int64_t> DriveStore::quota(const std::string& account) const {
    LockGuard lock(state_->mutex);
    const auto& drive = state_->drive(account);
    return {drive.usedBytes(), drive.quotaBytes()};
}

FileRecord DriveStore::readableFile(const std::string& account, std::int64_t id) const {
    LockGuard lock(state_->mutex);
    const auto& file = liveFile(state_->drive(account), id);
    if (file.storageClass != "standard") {
        throw ServiceError(409, "archived", "Fichier archivé.", "archived");
    }
    return file;
}

bool DriveStore::hasThumbnail(const std::string& account, const std::string& key) const {
    LockGuard lock(state_->mutex);
    for (const auto& [id, file] : state_->drive(account).files) {
        if (file.trashed || file.storageClass != "standard") continue;
        if (std::find(file.thumbnailKeys.begin(), file.thumbnailKeys.end(), key) != file.thumbnailKeys.end()) {
            return true;
        }
    }
    return false;
}

void DriveStore::checkFolder(const std::string& account, std::int64_t folderId) const {
    LockGuard lock(state_->mutex);
    requireFolder(state_->drive(account), folderId);
}

std::vector<std::string> DriveStore::storageKeys() const {
    LockGuard lock(state_->mutex);
    std::vector<std::string> keys;
    for (const auto& [account, drive] : state_->drives) {
        for (const auto& [id, file] : drive.files) {
            if (!file.storageKey.empty()) keys.push_back(file.storageKey);
            keys.insert(keys.end(), file.thumbnailKeys.begin(), file.thumbnailKeys.end());
        }
    }
    return keys;
}

}  // namespace cadrio::devserver
