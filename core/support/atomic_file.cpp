#include "core/support/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

namespace cadrio {
namespace {

// Leaves room for the prefix and suffix within the usual 255-byte name limit.
constexpr std::size_t kMaxStemBytes = 200;

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

/// Throws the current errno; the message is built only after errno was read,
/// so that its allocation cannot clobber it.
[[noreturn]] void throwLastError(const char* what, const std::filesystem::path& path) {
    const int error = errno;
    throwErrno(error, what + path.string());
}

/// Closes a descriptor and unlinks the temporary file unless released.
class TemporaryFile {
public:
    TemporaryFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        closeDescriptor();
        if (!renamed_) ::unlink(path_.c_str());
    }

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    /// Returns the errno of a failed close, 0 on success.
    int closeDescriptor() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        // After a failed close the data may not have reached the disk; the
        // descriptor is gone either way, so it must not be closed again.
        return result == 0 ? 0 : errno;
    }
    void markRenamed() { renamed_ = true; }

private:
    int fd_;
    std::filesystem::path path_;
    bool renamed_ = false;
};

TemporaryFile createTemporary(const std::filesystem::path& folder, const std::string& targetName) {
    std::string pattern = (folder / ("." + targetName.substr(0, kMaxStemBytes) + ".tmp-XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throwLastError("cannot create a temporary file in ", folder);
    return TemporaryFile(fd, std::move(pattern));
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

/// Closes a descriptor that was only read from.
struct ReadDescriptor {
    int fd;
    ~ReadDescriptor() { ::close(fd); }
};

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::filesystem::perms permissions) {
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") {
        throwErrno(EISDIR, "not a file path: " + target.string());
    }
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";

    TemporaryFile temporary = createTemporary(folder, name);
    if (::fchmod(temporary.fd(), static_cast<mode_t>(permissions) & 07777) != 0) {
        throwLastError("cannot set the mode of ", temporary.path());
    }
    writeAll(temporary.fd(), bytes, temporary.path());
    if (::fsync(temporary.fd()) != 0) throwLastError("cannot flush ", temporary.path());
    if (const int error = temporary.closeDescriptor(); error != 0) {
        throwErrno(error, "cannot close " + temporary.path().string());
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
        throwLastError("cannot replace ", target);
    }
    temporary.markRenamed();
    syncFolder(folder);
}

std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    // Non-blocking so that a FIFO put in the file's place cannot hang the
    // reader; reads from regular files ignore the flag.
    const ReadDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
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
