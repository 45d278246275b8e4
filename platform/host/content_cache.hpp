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
//   fetched file is renamed into place, never copied. What it holds at
//   start-up was left by a previous run and is removed.
// - Opening: hold() first, then lookup(). A content held before its lookup
//   cannot be evicted between the two; one evicted just before answers "not
//   cached", and the caller fetches it again.
// - A record is written only once its file is in place and forgotten before
//   its file goes, so that a crash leaves at most a file without record,
//   which the next start-up removes.
//
// Threads: every member may be called from any thread. The cache's mutex
// guards the open counts, the bytes in use and the inodes whose file is
// being changed; it is not held while files are renamed or removed, nor
// while the replica is called. Work on one inode is serialised (a second
// caller waits for the first); eviction skips an inode in use instead.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/byte_strings.hpp"
#include "platform/host/replica.hpp"

namespace cadrio::host {

class ContentCache {
public:
    static constexpr std::int64_t kDefaultLimitBytes = 10LL << 30;

    /// Creates `directory` (mode 0700) and its temporary directory; removes
    /// files in it that the replica does not record, and records whose file
    /// is gone.
    /// Throws std::filesystem::filesystem_error when the directories cannot
    /// be created.
    ContentCache(std::filesystem::path directory, Replica& replica, Clock& clock,
                 std::int64_t limitBytes = kDefaultLimitBytes);
    ContentCache(const ContentCache&) = delete;
    ContentCache& operator=(const ContentCache&) = delete;

    std::filesystem::path temporaryDirectory() const;

    /// The cached file of `inode` when it holds `contentVersion`; a copy of
    /// another version is dropped. Marks the content as just used.
    std::optional<std::filesystem::path> lookup(Inode inode, const fileprovider::ByteString& contentVersion);

    /// Moves `fetched` (a file in temporaryDirectory()) into the cache as the
    /// content of `inode` at `contentVersion`, replacing an older copy, then
    /// evicts down to the limit. Returns the cached path. A file elsewhere is
    /// copied. Throws std::filesystem::filesystem_error when it cannot be
    /// placed; `fetched` is removed either way.
    std::filesystem::path adopt(Inode inode, const std::filesystem::path& fetched,
                                const fileprovider::ByteString& contentVersion);

    /// Open handles: a held content is never evicted. The last release of a
    /// cache over its limit evicts. Hold before lookup() and adopt() (see
    /// above); an adoption never evicts the content it adopts.
    void hold(Inode inode);
    void release(Inode inode);

    /// Drops the content of `inode` (deleted item, new version), held or
    /// not: a descriptor already open on it keeps reading the old bytes.
    void drop(Inode inode);

    std::int64_t usedBytes() const;

private:
    /// Ends a claim when it goes out of scope.
    struct Unclaim;

    std::filesystem::path fileOf(Inode inode) const;
    void reconcile();
    /// Waits until no one else works on `inode`, then marks it.
    void claim(Inode inode) CADRIO_EXCLUDES(mutex_);
    /// Marks `inode` only when it is neither held nor worked on.
    bool claimForEviction(Inode inode) CADRIO_EXCLUDES(mutex_);
    void unclaim(Inode inode) CADRIO_EXCLUDES(mutex_);
    /// Forgets the record, then removes the file; the caller claimed `inode`.
    void remove(const MaterialisedContent& content) CADRIO_EXCLUDES(mutex_);
    void placeFetched(const std::filesystem::path& fetched, const std::filesystem::path& target);
    void evictDownToLimit(std::optional<Inode> spare) CADRIO_EXCLUDES(mutex_);
    bool overLimit() const CADRIO_EXCLUDES(mutex_);

    const std::filesystem::path directory_;
    const std::filesystem::path temporary_;
    Replica& replica_;
    Clock& clock_;
    const std::int64_t limitBytes_;

    mutable Mutex mutex_;
    std::condition_variable_any unclaimed_;
    std::unordered_map<Inode, int> holds_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<Inode> claimed_ CADRIO_GUARDED_BY(mutex_);
    std::int64_t usedBytes_ CADRIO_GUARDED_BY(mutex_) = 0;
};

}  // namespace cadrio::host
