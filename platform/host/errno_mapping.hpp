#pragma once
// The one table from the framework's errors to the errno values the FUSE
// layer answers with. Every plug-in failure that reaches a file system call
// goes through errnoFor.

#include "platform/fileprovider/error.hpp"

namespace cadrio::host {

/// -1005 ENOENT, -1000 EACCES, -1003 EDQUOT, -1004 and -2005 EIO, 513 EPERM,
/// 3072 EINTR, 3328 ENOTSUP; a POSIX-domain error keeps its own code;
/// everything else is EIO.
int errnoFor(const fileprovider::Error& error) noexcept;

}  // namespace cadrio::host
