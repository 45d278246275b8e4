#include "core/support/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace cadrio {
namespace {

// Leaves room for the prefix and suffix within the usual 255-byte name limit.
constexpr std::size_t kMaxStemBytes = 200;
constexpr std::string_view kMarker = ".cadrio-tmp-";
// Earlier releases wrote unlocked temporaries under this marker.
constexpr std::string_view kEarlierMarker = ".tmp-";
constexpr std::size_t kRandomBytes = 6;  // what mkostemp fills in
constexpr mode_t kTemporaryMode = 0600;

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

/// Throws the current errno; the message is built only after errno was read,
/// so that its allocation cannot clobber it.
[[noreturn]] void throwLastError(const char* what, const std::filesystem::path& path) {
    const int error = errno;
    throwErrno(error, what + path.string());
}

std::string_view stemOf(std::string_view targetName) { return targetName.substr(0, kMaxStemBytes); }

bool isRandomSuffix(std::string_view text) {
    return text.size() == kRandomBytes && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

/// The stem of the target that `name` is a temporary of, if it is one of ours.
std::optional<std::string_view> temporaryStem(std::string_view name) {
    if (name.size() < 2 + kEarlierMarker.size() + kRandomBytes || name[0] != '.') return std::nullopt;
    if (!isRandomSuffix(name.substr(name.size() - kRandomBytes))) return std::nullopt;
    const std::string_view rest = name.substr(1, name.size() - 1 - kRandomBytes);
    for (const std::string_view marker : {kMarker, kEarlierMarker}) {
        if (rest.size() > marker.size() && rest.ends_with(marker)) {
            return rest.substr(0, rest.size() - marker.size());
        }
    }
    return std::nullopt;
}

int lockExclusively(int fd, int flags) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | flags);
    } while (result != 0 && errno == EINTR);
    return result;
}

/// Closes a descriptor when it goes out of scope.
struct Descriptor {
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

/// Removes `name` from the folder `folderFd` when it is a regular file that
/// no live writer holds. The lock is taken before the name is checked again,
/// so a writer that locks its fresh file just after we did finds it gone and
/// starts over (see createTemporary).
bool removeIfStale(int folderFd, const char* name) {
    const Descriptor file{::openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    if (file.fd < 0) return false;
    struct stat opened {};
    if (::fstat(file.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) return false;
    if (lockExclusively(file.fd, LOCK_NB) != 0) return false;  // its writer is alive
    struct stat named {};
    if (::fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) return false;
    return ::unlinkat(folderFd, name, 0) == 0;
}

/// Sweeps `folder`; only temporaries of the target whose stem is `stem`
/// when one is given.
std::size_t sweep(const std::filesystem::path& folder, std::optional<std::string_view> stem) {
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder.c_str()), &::closedir);
    if (!entries) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::optional<std::string_view> owner = temporaryStem(entry->d_name);
        if (!owner || (stem && *owner != *stem)) continue;
        if (removeIfStale(::dirfd(entries.get()), entry->d_name)) ++removed;
    }
    return removed;
}

/// A temporary file, locked from creation: unlinked unless committed; its
/// lock lasts until the destructor, past the close of the written descriptor.
class TemporaryFile {
public:
    TemporaryFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile(TemporaryFile&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)),
          lock_(std::exchange(other.lock_, -1)),
          path_(std::move(other.path_)),
          owned_(std::exchange(other.owned_, false)) {}
    ~TemporaryFile() {
        closeDescriptor();
        // Unlinked before the lock goes, so that no sweeper ever sees it unlocked.
        if (owned_) ::unlink(path_.c_str());
        if (lock_ >= 0) ::close(lock_);
    }

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    /// Locks the file; false when a sweeper removed it between its creation
    /// and the lock (it took it for a dead writer's), which the caller then
    /// abandons.
    bool lock() {
        if (lockExclusively(fd_, 0) != 0) throwLastError("cannot lock ", path_);
        struct stat status {};
        if (::fstat(fd_, &status) != 0) throwLastError("cannot inspect ", path_);
        if (status.st_nlink == 0) {
            owned_ = false;  // the name is gone, and may be reused by now
            return false;
        }
        // A second descriptor of the same open file keeps the lock once the
        // written one is closed.
        lock_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (lock_ < 0) throwLastError("cannot lock ", path_);
        return true;
    }

    /// Returns the errno of a failed close, 0 on success.
    int closeDescriptor() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        // After a failed close the data may not have reached the disk; the
        // descriptor is gone either way, so it must not be closed again.
        return result == 0 ? 0 : errno;
    }
    void markCommitted() { owned_ = false; }

private:
    int fd_;
    int lock_ = -1;
    std::filesystem::path path_;
    bool owned_ = true;
};

TemporaryFile createTemporary(const std::filesystem::path& folder, std::string_view targetName) {
    const std::string pattern =
        (folder / ("." + std::string(stemOf(targetName)) + std::string(kMarker) + "XXXXXX")).string();
    // Losing the race against a sweeper needs a sweep to start between two
    // system calls of ours; losing it every time means something is wrong.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string path = pattern;
        const int fd = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd < 0) throwLastError("cannot create a temporary file in ", folder);
        TemporaryFile temporary(fd, std::move(path));
        // Readable by its owner whatever the umask, so that a sweeper can open it.
        if (::fchmod(fd, kTemporaryMode) != 0) {
            throwLastError("cannot set the mode of ", temporary.path());
        }
        if (temporary.lock()) return temporary;
    }
    throwErrno(EAGAIN, "cannot keep a temporary file in " + folder.string());
}

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throwLastError("cannot write ", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

/// Moves `from` to `to` unless a file has that name; returns 0 or the errno.
int moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // Without the flag (some network and FUSE file systems), a hard link
    // fails on an existing name just as atomically.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return errno;
    // Neither: check, then rename. Two creators racing here may both succeed.
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::filesystem::path folderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : ".";
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::filesystem::perms permissions, ExistingTarget existing) {
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") {
        throwErrno(EISDIR, "not a file path: " + target.string());
    }
    const std::filesystem::path folder = folderOf(target);

    sweep(folder, stemOf(name));
    TemporaryFile temporary = createTemporary(folder, name);
    writeAll(temporary.fd(), bytes, temporary.path());
    if (::fchmod(temporary.fd(), static_cast<mode_t>(permissions) & 07777) != 0) {
        throwLastError("cannot set the mode of ", temporary.path());
    }
    if (::fsync(temporary.fd()) != 0) throwLastError("cannot flush ", temporary.path());
    if (const int error = temporary.closeDescriptor(); error != 0) {
        throwErrno(error, "cannot close " + temporary.path().string());
    }
    if (existing == ExistingTarget::keep) {
        if (const int error = moveWithoutReplacing(temporary.path(), target); error != 0) {
            const char* what = error == EEXIST ? "already exists: " : "cannot create ";
            throwErrno(error, what + target.string());
        }
    } else if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        throwLastError("cannot replace ", target);
    }
    temporary.markCommitted();
    syncFolder(folder);
}

std::size_t sweepStaleTemporaries(const std::filesystem::path& target) {
    return sweep(folderOf(target), stemOf(target.filename().native()));
}

std::size_t sweepStaleTemporariesIn(const std::filesystem::path& folder) {
    return sweep(folder, std::nullopt);
}

std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    // Non-blocking so that a FIFO put in the file's place cannot hang the
    // reader; reads from regular files ignore the flag.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) throwLastError("cannot open ", path);
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) throwLastError("cannot inspect ", path);
    if (S_ISDIR(status.st_mode)) throwErrno(EISDIR, "not a file: " + path.string());
    if (!S_ISREG(status.st_mode)) throwErrno(EINVAL, "not a regular file: " + path.string());
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        throwErrno(EFBIG, "file too large: " + path.string());
    }

    // One byte of room beyond the limit tells a grown file from a full one.
    const std::size_t room = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(std::min(room, std::max<std::size_t>(4096, 2 * filled)));
        if (filled == bytes.size()) throwErrno(EFBIG, "file too large: " + path.string());
        const ssize_t count = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwLastError("cannot read ", path);
        }
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace cadrio
