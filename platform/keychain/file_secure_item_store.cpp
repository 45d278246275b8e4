#include "platform/keychain/file_secure_item_store.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <system_error>
#include <utility>

#include "core/support/atomic_file.hpp"
#include "core/support/hexadecimal.hpp"
#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

namespace {

constexpr mode_t kFolderMode = 0700;

[[noreturn]] void failWithErrno(std::string_view what, int error) {
    throw KeychainError(keychain_status::ioFailure,
                        std::string(what) + " : " + std::system_category().message(error));
}

// Closes on every exit path; close errors matter only where checked by hand.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::string hexSha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw KeychainError(keychain_status::internalFailure, "SHA-256 indisponible");
    }
    return hexadecimal(std::span<const unsigned char>(digest, length));
}

void syncFolder(const std::filesystem::path& folder) {
    // Makes the rename or unlink durable; a failure here cannot be undone
    // and the new state is already visible, so it is not reported.
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

// Earlier releases named their temporaries ".tmp-<number>-<number>" and did
// not lock them. The folder is ours alone and those releases are gone once
// this one runs, so any such file is a leftover of a writer that died.
bool isEarlierTemporaryName(std::string_view name) {
    constexpr std::string_view kPrefix = ".tmp-";
    if (!name.starts_with(kPrefix)) return false;
    name.remove_prefix(kPrefix.size());
    const auto isNumber = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    const std::size_t dash = name.find('-');
    return dash != std::string_view::npos && isNumber(name.substr(0, dash)) &&
           isNumber(name.substr(dash + 1));
}

void sweepEarlierTemporaries(const std::filesystem::path& folder) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (isEarlierTemporaryName(entry->path().filename().native())) {
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

// Writes one item file; `existing` says whether an item already there is
// replaced (update) or makes the write fail (add).
void writeItem(const std::filesystem::path& path, std::string_view data, ExistingTarget existing) {
    try {
        constexpr auto kItemMode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
        writeFileAtomically(path, data, kItemMode, existing);
    } catch (const std::system_error& error) {
        if (existing == ExistingTarget::keep && error.code() == std::errc::file_exists) {
            throw KeychainError(keychain_status::duplicateItem);
        }
        failWithErrno("enregistrement de l'élément", error.code().value());
    }
}

}  // namespace

FileSecureItemStore::FileSecureItemStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {
    // Only in a folder that ensureDirectory would accept: never through a
    // link, never in someone else's folder.
    struct stat info;
    if (::lstat(directory_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return;
    sweepStaleTemporariesIn(directory_);
    sweepEarlierTemporaries(directory_);
}

std::filesystem::path FileSecureItemStore::pathFor(const SecureItemKey& key) const {
    requireValidKey(key);
    std::string joined = key.service;
    joined += '\0';
    joined += key.account;
    joined += '\0';
    joined += key.accessGroup;
    return directory_ / hexSha256(joined);
}

void FileSecureItemStore::ensureDirectory() const {
    std::error_code error;
    std::filesystem::create_directories(directory_.parent_path(), error);
    if (::mkdir(directory_.c_str(), kFolderMode) != 0 && errno != EEXIST) {
        failWithErrno("création du dossier du trousseau", errno);
    }
    struct stat info;
    if (::lstat(directory_.c_str(), &info) != 0) {
        failWithErrno("dossier du trousseau", errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        throw KeychainError(keychain_status::ioFailure, "le chemin du trousseau n'est pas un dossier");
    }
    if (info.st_uid != ::geteuid()) {
        throw KeychainError(keychain_status::ioFailure, "le dossier du trousseau appartient à un autre utilisateur");
    }
    if ((info.st_mode & 07777) != kFolderMode && ::chmod(directory_.c_str(), kFolderMode) != 0) {
        failWithErrno("droits du dossier du trousseau", errno);
    }
}

std::optional<SecureItemData> FileSecureItemStore::find(const SecureItemKey& key) {
    const auto path = pathFor(key);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        failWithErrno("lecture de l'élément", errno);
    }
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) failWithErrno("lecture de l'élément", errno);
    if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > maxItemBytes) {
        throw KeychainError(keychain_status::unreadableItem, "fichier d'élément invalide");
    }
    SecureItemData data;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            failWithErrno("lecture de l'élément", errno);
        }
        if (count == 0) break;
        data.append(buffer, static_cast<std::size_t>(count));
        if (data.size() > maxItemBytes) {
            throw KeychainError(keychain_status::unreadableItem, "fichier d'élément invalide");
        }
    }
    return data;
}

bool FileSecureItemStore::update(const SecureItemKey& key, std::string_view data) {
    const auto path = pathFor(key);
    if (data.size() > maxItemBytes) throw KeychainError(keychain_status::invalidParameter, "élément trop grand");
    struct stat existing;
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        failWithErrno("lecture de l'élément", errno);
    }
    ensureDirectory();
    writeItem(path, data, ExistingTarget::replace);
    return true;
}

void FileSecureItemStore::add(const SecureItemKey& key, std::string_view data) {
    const auto path = pathFor(key);
    if (data.size() > maxItemBytes) throw KeychainError(keychain_status::invalidParameter, "élément trop grand");
    ensureDirectory();
    writeItem(path, data, ExistingTarget::keep);
}

bool FileSecureItemStore::remove(const SecureItemKey& key) {
    const auto path = pathFor(key);
    const bool removed = ::unlink(path.c_str()) == 0;
    if (!removed && errno != ENOENT && errno != ENOTDIR) failWithErrno("suppression de l'élément", errno);
    // What a writer killed while replacing the item left holds its data too.
    const bool swept = sweepStaleTemporaries(path) > 0;
    if (removed || swept) syncFolder(directory_);
    return removed;
}

}  // namespace cadrio
