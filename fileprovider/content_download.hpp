#pragma once
// The transfer step of a content fetch: the body behind a presigned storage
// address, streamed straight into a fresh scratch file that the host then
// takes over. The file is written as chunks arrive, so a download costs one
// transfer buffer of memory whatever its size.
//
// The answer is checked in this order: a network failure, a refused status
// (nothing of an error body ever reaches the file), a local write failure,
// then the bytes on disk against the announced Content-Length. A download
// that fails or is cancelled leaves no file behind: the scratch directory is
// the host's, and nobody else would ever remove it.
//
// Threads: downloadContent blocks its caller for the whole transfer; the
// progress callback runs on the transport's thread. Any number of downloads
// may run at once.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "core/http/api_client.hpp"
#include "platform/fileprovider/progress.hpp"

namespace cadrio {

struct DownloadedContent {
    std::filesystem::path path;  // in the destination directory, named by a fresh UUID
    std::int64_t bytes = 0;      // on disk

    bool operator==(const DownloadedContent&) const = default;
};

/// Bytes received so far, and the total the answer announced (absent when
/// it gave no Content-Length). Called once when the answer's headers are
/// in, then after each chunk written. Must not throw.
using DownloadProgress = std::function<void(std::int64_t receivedBytes, std::optional<std::int64_t> expectedBytes)>;

/// GETs `url` (no drive credentials; redirections as
/// client.storageDownloadRedirects() allows; the client's request time-out
/// as idle time-out) through client.transport() into
/// `directory`/<upper-case UUID>, created exclusively with mode 0600.
///
/// Throws, after removing the partial file:
/// - DriveError::transport with the transport's text for a network failure,
///   or "téléchargement incomplet : ..." when the body ended short of its
///   announced length (cut off, or fewer bytes on disk);
/// - DriveError::http(status, "stockage") for an answer outside 2xx;
/// - std::filesystem::filesystem_error when the file cannot be created or
///   written;
/// - CancellationError once `stop` fires, at once, mid-transfer included.
DownloadedContent downloadContent(const std::string& url, const std::filesystem::path& directory,
                                  const ApiClient& client, const DownloadProgress& progress = {},
                                  std::stop_token stop = {});

/// A DownloadProgress that drives `parent`: a child progress standing for
/// all of the parent's units (its total as it is now) counts the bytes, and
/// is indeterminate while the total size is unknown.
DownloadProgress attachDownloadProgress(fileprovider::Progress& parent);

}  // namespace cadrio
