#include "platform/host/file_clone.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace cadrio::host {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& target, int error) {
    throw fs::filesystem_error(what, target, std::error_code(error, std::generic_category()));
}

/// Copies through the page cache; for file systems without copy_file_range.
bool copyByHand(int sourceFd, int targetFd) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(sourceFd, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(targetFd, buffer + written, static_cast<size_t>(got - written));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            written += put;
        }
    }
}

bool copyContents(int sourceFd, int targetFd) {
    if (::ioctl(targetFd, FICLONE, sourceFd) == 0) return true;
    for (bool first = true;; first = false) {
        const ssize_t copied = ::copy_file_range(sourceFd, nullptr, targetFd, nullptr, 1 << 30, 0);
        if (copied == 0) return true;
        if (copied > 0) continue;
        if (errno == EINTR) continue;
        // Nothing copied yet and the kernel cannot do it here: by hand.
        if (first && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            return copyByHand(sourceFd, targetFd);
        }
        return false;
    }
}

}  // namespace

void cloneFile(int sourceFd, const fs::path& target) {
    if (::lseek(sourceFd, 0, SEEK_SET) < 0) fail("cannot read the source of a copy", target, errno);
    const int targetFd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (targetFd < 0) fail("cannot create a copy", target, errno);
    const bool copied = copyContents(sourceFd, targetFd);
    const int error = errno;
    const bool closed = ::close(targetFd) == 0;
    if (copied && closed) return;
    std::error_code ignored;
    fs::remove(target, ignored);
    fail("cannot copy a file", target, copied ? EIO : error);
}

}  // namespace cadrio::host
