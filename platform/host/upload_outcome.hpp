#pragma once
// How the uploader reads the plug-in's answers: what a failure means for the
// change, when a failed change is tried again, and the path shown to the
// user for an item.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/fileprovider/error.hpp"
#include "platform/host/replica.hpp"

namespace cadrio::host {

enum class UploadFailure {
    /// Offline, a server error or anything unknown: back off and retry.
    retry,
    /// The drive will not take this change: hold it and tell the user.
    refused,
    /// The drive does not have the item (any more).
    noSuchItem,
    /// A folder's deletion found on the drive items this side never saw.
    notEmpty,
    /// A file's deletion found on the drive bytes this side never saw.
    deletionRejected,
    /// The plug-in keeps the item out of sync.
    excluded,
    /// Cancelled by a pause or a shutdown: queued again, no back-off.
    cancelled,
};

UploadFailure classifyUploadFailure(const fileprovider::Error& error);

/// The wait before attempt `failures` + 1, after `failures` (>= 1) failures
/// in a row: the schedule's entries in turn, then its last one for good.
std::chrono::seconds retryDelay(const std::vector<std::chrono::seconds>& schedule, std::size_t failures);

/// `inode`'s shown names from the mounted folder's root down, "/"-separated;
/// an entry missing on the way leaves the part below it.
std::string pathInMount(const Replica& replica, Inode inode);

}  // namespace cadrio::host
