#include "platform/host/upload_outcome.hpp"

#include <algorithm>
#include <cerrno>

namespace cadrio::host {

using fileprovider::CocoaErrorCode;
using fileprovider::FileProviderErrorCode;

UploadFailure classifyUploadFailure(const fileprovider::Error& error) {
    if (error.is(CocoaErrorCode::userCancelled)) return UploadFailure::cancelled;
    if (error.is(FileProviderErrorCode::noSuchItem)) return UploadFailure::noSuchItem;
    if (error.domain == fileprovider::kPosixErrorDomain && error.code == ENOTEMPTY) return UploadFailure::notEmpty;
    if (error.is(FileProviderErrorCode::deletionRejected)) return UploadFailure::deletionRejected;
    if (error.is(FileProviderErrorCode::excludedFromSync)) return UploadFailure::excluded;
    if (error.is(FileProviderErrorCode::notAuthenticated) || error.is(FileProviderErrorCode::insufficientQuota) ||
        error.is(FileProviderErrorCode::cannotSynchronize) || error.is(CocoaErrorCode::fileWriteNoPermission)) {
        return UploadFailure::refused;
    }
    return UploadFailure::retry;
}

std::chrono::seconds retryDelay(const std::vector<std::chrono::seconds>& schedule, std::size_t failures) {
    if (schedule.empty()) return std::chrono::seconds(60);
    const std::size_t index = std::min(failures == 0 ? 0 : failures - 1, schedule.size() - 1);
    return schedule[index];
}

std::string pathInMount(const Replica& replica, Inode inode) {
    std::string path;
    // Bounded: a damaged replica with a loop of parents must not hang a send.
    for (int depth = 0; inode != kFuseRootInode && depth < 4096; ++depth) {
        const std::optional<ReplicaEntry> entry = replica.entry(inode);
        if (!entry) break;
        path = path.empty() ? entry->shownName : entry->shownName + "/" + path;
        inode = entry->parentInode;
    }
    return path;
}

}  // namespace cadrio::host
