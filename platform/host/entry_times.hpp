#pragma once
// The modification time an entry shows: what the plug-in gave as modified,
// else as created, else the epoch. The FUSE attributes and the thumbnails'
// Thumb::MTime must agree, or a file manager takes every thumbnail for stale.

#include <chrono>
#include <cstdint>

#include "platform/host/replica.hpp"

namespace cadrio::host {

inline fileprovider::Date shownModificationTime(const ReplicaEntry& entry) {
    if (entry.modified) return *entry.modified;
    if (entry.created) return *entry.created;
    return fileprovider::Date{};
}

/// Whole seconds, rounded down as st_mtime is.
inline std::int64_t shownModificationSeconds(const ReplicaEntry& entry) {
    return std::chrono::floor<std::chrono::seconds>(shownModificationTime(entry).time_since_epoch())
        .count();
}

}  // namespace cadrio::host
