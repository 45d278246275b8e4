#pragma once
// The listing operations of the drive API that the enumerator needs, as an
// interface: the typed drive API has no virtual operations, and tests need
// to script answers, failures and slow requests.
//
// Implementations may be called from any thread, several calls at once.
// Each call throws DriveError for what the network, the server or a response
// did wrong, and CancellationError once `stop` fires.

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "core/model/drive_records.hpp"

namespace cadrio {

class DriveListing {
public:
    virtual ~DriveListing() = default;

    /// The change page after `since`, nothing filtered; an expired cursor is
    /// DriveError::cursorExpired.
    virtual DriveChanges changes(std::int64_t since, std::stop_token stop) = 0;
    /// Subfolders of `in` (absent: the root), trashed ones dropped.
    virtual std::vector<DriveFolder> folders(std::optional<std::int64_t> in, std::stop_token stop) = 0;
    /// Files of `in` (absent: the root), only synchronisable ones.
    virtual std::vector<DriveFile> files(std::optional<std::int64_t> in, std::stop_token stop) = 0;
};

}  // namespace cadrio
