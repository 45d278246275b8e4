#pragma once
// The progress object that creations and modifications answer with: it
// counts the content bytes sent, so the host can show how far an upload is.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/fileprovider/progress.hpp"

namespace cadrio {

/// An uploading progress for `contents`: its total is the file's size when
/// that can be read and is at least 1 byte, else 1 (folders, empty or
/// unreadable files), so it is never left at "nothing to measure"; the file
/// URL is `contents` when given.
std::shared_ptr<fileprovider::Progress> makeUploadProgress(const std::optional<std::filesystem::path>& contents);

/// The drive API's progress callback for an upload counted by `progress`:
/// sets its completed count to the bytes sent so far. Callable from any
/// thread; it does not keep `progress` alive.
std::function<void(std::int64_t bytesSent)> uploadProgressReporter(
    const std::shared_ptr<fileprovider::Progress>& progress);

}  // namespace cadrio
