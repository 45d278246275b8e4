#include "platform/host/errno_mapping.hpp"

#include <cerrno>

namespace cadrio::host {

using fileprovider::CocoaErrorCode;
using fileprovider::FileProviderErrorCode;

int errnoFor(const fileprovider::Error& error) noexcept {
    if (error.domain == fileprovider::kPosixErrorDomain) {
        // A code no errno can be (0, negative, huge) would read as success
        // or as garbage to the caller.
        if (error.code > 0 && error.code < 4096) return static_cast<int>(error.code);
        return EIO;
    }
    if (error.is(FileProviderErrorCode::noSuchItem)) return ENOENT;
    if (error.is(FileProviderErrorCode::notAuthenticated)) return EACCES;
    if (error.is(FileProviderErrorCode::insufficientQuota)) return EDQUOT;
    if (error.is(CocoaErrorCode::fileWriteNoPermission)) return EPERM;
    if (error.is(CocoaErrorCode::userCancelled)) return EINTR;
    if (error.is(CocoaErrorCode::featureUnsupported)) return ENOTSUP;
    // serverUnreachable, cannotSynchronize and everything unnamed.
    return EIO;
}

}  // namespace cadrio::host
