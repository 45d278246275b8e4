#include "platform/keychain/file_secure_item_store.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kItemMode = 0600;

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
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string hexSha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw KeychainError(keychain_status::internalFailure, "SHA-256 indisponible");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0f];
    }
    return text;
}

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            failWithErrno("écriture de l'élément", errno);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
}

void syncFolder(const std::filesystem::path& folder) {
    // Makes the rename or unlink durable; a failure here cannot be undone
    // and the new state is already visible, so it is not reported.
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

// A new file with a unique name next to the items, holding `data`, flushed.
std::filesystem::path writeTemporary(const std::filesystem::path& folder, std::string_view data) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto name = ".tmp-" + std::to_string(random()) + "-" + std::to_string(random());
        const auto path = folder / name;
        FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                                 kItemMode));
        if (fd.get() < 0) {
            if (errno == EEXIST) continue;
            failWithErrno("création d'un fichier temporaire", errno);
        }
        try {
            // The umask may have narrowed the mode; the item must be exactly 0600.
            if (::fchmod(fd.get(), kItemMode) != 0) failWithErrno("droits de l'élément", errno);
            writeAll(fd.get(), data);
            if (::fsync(fd.get()) != 0) failWithErrno("écriture de l'élément", errno);
            if (::close(fd.release()) != 0) failWithErrno("écriture de l'élément", errno);
        } catch (...) {
            ::unlink(path.c_str());
            throw;
        }
        return path;
    }
    throw KeychainError(keychain_status::ioFailure, "aucun nom de fichier temporaire libre");
}

// Moves `temporary` to `target`. With `mayReplace` false an existing target
// is never replaced (duplicateItem).
void commit(const std::filesystem::path& temporary, const std::filesystem::path& target,
            bool mayReplace) {
    int result;
    if (mayReplace) {
        result = ::rename(temporary.c_str(), target.c_str());
    } else {
        result = ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
            // File systems without the no-replace flag: check, then rename.
            struct stat existing;
            if (::lstat(target.c_str(), &existing) == 0) {
                errno = EEXIST;
            } else {
                result = ::rename(temporary.c_str(), target.c_str());
            }
        }
    }
    if (result != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        if (error == EEXIST) throw KeychainError(keychain_status::duplicateItem);
        failWithErrno("enregistrement de l'élément", error);
    }
}

}  // namespace

FileSecureItemStore::FileSecureItemStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

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
    commit(writeTemporary(directory_, data), path, true);
    syncFolder(directory_);
    return true;
}

void FileSecureItemStore::add(const SecureItemKey& key, std::string_view data) {
    const auto path = pathFor(key);
    if (data.size() > maxItemBytes) throw KeychainError(keychain_status::invalidParameter, "élément trop grand");
    ensureDirectory();
    commit(writeTemporary(directory_, data), path, false);
    syncFolder(directory_);
}

bool FileSecureItemStore::remove(const SecureItemKey& key) {
    const auto path = pathFor(key);
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        failWithErrno("suppression de l'élément", errno);
    }
    syncFolder(directory_);
    return true;
}

}  // namespace cadrio
