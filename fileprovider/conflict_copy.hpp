#pragma once
// Local bytes that met another version of their file on the drive: they go
// up as a new file beside it, named as a conflict copy, and the file itself
// stays as the drive has it. Shared by a modification whose precondition
// failed and a creation in doubt that found its name taken.
//
// Plain functions on the handlers' parts; they run on the handler's task
// and block on the drive's requests.

#include <stop_token>
#include <string_view>

#include "core/api/drive_api.hpp"
#include "core/model/drive_records.hpp"
#include "fileprovider/item_change_parts.hpp"

namespace cadrio {

struct FileAnswer {
    DriveFile file;
    bool shouldFetchContent = false;
};

/// Sends `local` as a conflict copy of `base`, named after `localName`,
/// unless an earlier attempt whose answer was lost left that copy already
/// (found by its bytes and its name at another minute). Records the
/// conflict in the store's summary when a copy is made. Answers `base`
/// brought to the drive's current version, with its bytes to fetch again.
/// Throws DriveError as the requests do.
FileAnswer keepConflictCopy(const ItemChangeParts& parts, std::string_view localName, const DriveFile& base,
                            const LocalContent& local, const DriveAPI::Progress& report, std::stop_token stop);

}  // namespace cadrio
