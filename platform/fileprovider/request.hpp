#pragma once
// Who is asking: passed with each request so that a plug-in may treat the
// host's own housekeeping differently from a user's action.

#include <filesystem>
#include <optional>

namespace cadrio::fileprovider {

struct Request {
    /// The host asks on its own account (re-listing, prefetching).
    bool isSystemRequest = false;
    /// A file manager asks for what it shows (listings, thumbnails).
    bool isFileViewerRequest = false;
    /// The program that touched the file, when the host knows it.
    std::optional<std::filesystem::path> requestingExecutable;

    bool operator==(const Request&) const = default;
};

}  // namespace cadrio::fileprovider
