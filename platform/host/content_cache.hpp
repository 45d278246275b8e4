#pragma once
// The materialised contents of one domain: files under
// $XDG_CACHE_HOME/cadrio-fileproviderd/<domain>/, one per inode, recorded in
// the replica with the content version they hold.
//
// - A content is served only while its version is the item's: a changed
//   version drops the stale copy.
// - The cache stays under its size limit (default 10 GiB): after each
//   adoption, the least recently used contents that no one holds open are
//   removed first; an open one is never removed, even when that leaves the
//   cache over its limit for a while.
// - temporaryDirectory() is on the same file system as the cache, so that a
//   fetched file is renamed into place, never copied.
//
// Threads: every member may be called from any thread. The cache's mutex
// guards the open counts; it is not held while files are renamed or
// removed, and the replica's own lock is taken after it, never before.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/support/clock.hpp"
#include "platform/fileprovider/byte_strings.hpp"
#include "platform/host/replica.hpp"

namespace cadrio::host {

class ContentCache {
public:
    static constexpr std::int64_t kDefaultLimitBytes = 10LL << 30;

    /// Creates `directory` (mode 0700) and its temporary directory; removes
    /// files in it that the replica does not record, and records whose file
    /// is gone.
    ContentCache(std::filesystem::path directory, Replica& replica, Clock& clock,
                 std::int64_t limitBytes = kDefaultLimitBytes);

    std::filesystem::path temporaryDirectory() const;

    /// The cached file of `inode` when it holds `contentVersion`; a copy of
    /// another version is dropped. Marks the content as just used.
    std::optional<std::filesystem::path> lookup(Inode inode, const fileprovider::ByteString& contentVersion);

    /// Moves `fetched` (a file in temporaryDirectory()) into the cache as the
    /// content of `inode` at `contentVersion`, replacing an older copy, then
    /// evicts down to the limit. Returns the cached path.
    std::filesystem::path adopt(Inode inode, const std::filesystem::path& fetched,
                                const fileprovider::ByteString& contentVersion);

    /// Open handles: a held content is never evicted.
    void hold(Inode inode);
    void release(Inode inode);

    /// Drops the content of `inode` (deleted item, new version).
    void drop(Inode inode);

    std::int64_t usedBytes() const;
};

}  // namespace cadrio::host
