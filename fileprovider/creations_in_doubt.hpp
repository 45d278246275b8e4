#pragma once
// File creations whose answer may not have come back. A request can reach
// the drive and its answer be lost on the way back (a dropped connection, a
// cut body); the host then sends the creation again, saying it may already
// exist, and the handler looks for the file the first attempt left: in its
// own folder by name and bytes first. Another device may have moved that
// file to another folder before the retry; it is then the one file of that
// name and those bytes that the store came to hold after the first attempt
// began. Files of that name and bytes the store held before are never taken
// for it (a copy of the same file elsewhere is not the attempt).
//
// In memory only: after a restart the retry looks in its folder alone, as
// it did before this was known. At most kKept attempts are remembered, the
// oldest forgotten first.
//
// Threads: every member may be called from any thread. mutex_ guards the
// attempts; it is never held while the store is read, so it meets the
// store's lock in no order.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "core/model/drive_records.hpp"
#include "core/support/thread_annotations.hpp"
#include "fileprovider/item_store.hpp"

namespace cadrio {

class CreationsInDoubt {
public:
    struct Attempt {
        std::optional<std::int64_t> parent;  // absent: the root folder
        std::string name;
        std::string contentHash;
        auto operator<=>(const Attempt&) const = default;
    };
    static constexpr std::size_t kKept = 256;

    /// Before a first attempt's request: notes the files of its name and
    /// bytes that `store` holds now. A retry keeps what its first attempt
    /// noted and calls retrying() instead.
    void begin(const Attempt& attempt, const ItemStore& store) CADRIO_EXCLUDES(mutex_);
    /// The drive answered the request: there is nothing to look for.
    void answered(const Attempt& attempt) CADRIO_EXCLUDES(mutex_);
    /// The file the first attempt left, found outside its folder: the only
    /// file of its name and bytes that `store` holds and did not hold when
    /// that attempt began. Absent when there is none or more than one, or
    /// when no first attempt was noted.
    std::optional<DriveFile> movedAway(const Attempt& attempt, const ItemStore& store) const CADRIO_EXCLUDES(mutex_);

private:
    mutable Mutex mutex_;
    std::map<Attempt, std::set<std::int64_t>> heldBefore_ CADRIO_GUARDED_BY(mutex_);
    std::deque<Attempt> order_ CADRIO_GUARDED_BY(mutex_);  // oldest first
};

}  // namespace cadrio
