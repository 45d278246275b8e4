#pragma once
// What the FUSE request handlers work with: the replica and content cache
// they answer from, the sync engine that lists folders not yet seen, the
// content fetcher, and the time-outs they answer with. Private to the FUSE
// file system (fuse_filesystem.cpp, fuse_operations.cpp, fuse_directory.cpp).
//
// Threads: the handlers run on the loop's worker threads, several at once.
// pageCacheMutex guards pageCacheVersions; it is held for the map access
// only.

#define FUSE_USE_VERSION 34
#include <fuse3/fuse_lowlevel.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/content_fetcher.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"

namespace cadrio::host {

struct FuseContext {
    Replica& replica;
    ContentCache& cache;
    SyncEngine& engine;
    ContentFetcher& fetcher;
    Clock& clock;
    /// Where statfs looks when the drive's quota is unknown: the content
    /// cache's file system is where opened files land.
    std::filesystem::path cacheDirectory;
    std::chrono::milliseconds metadataTimeout;
    double entryTimeoutSeconds;
    double attrTimeoutSeconds;
    uid_t owner;
    gid_t group;
    /// The files a listing reply just showed, for work that must not delay
    /// the reply (thumbnails); may be empty. Called on the request thread.
    std::function<void(Inode folder, std::vector<ReplicaEntry> files)> filesListed;

    /// The content version of each file whose pages the kernel may hold:
    /// an open keeps the kernel's page cache only while it is unchanged.
    Mutex pageCacheMutex{};
    std::unordered_map<Inode, fileprovider::ByteString> pageCacheVersions CADRIO_GUARDED_BY(pageCacheMutex){};

    /// The kernel keeps each folder's listing once read; an invalidation
    /// notice drops it, and so does the next opendir of a folder noticed
    /// changed meanwhile, which covers a listing read from the replica just
    /// before a change but cached by the kernel just after its notice.
    /// changedInodes holds the inodes noticed since their folder's last
    /// opendir (files included: notices do not say which they are); past
    /// kChangedCap of them it is cleared and `listingEpoch` moves on, which
    /// makes every folder's next opendir start a fresh listing.
    static constexpr std::size_t kChangedCap = 1 << 16;
    Mutex listingMutex{};
    std::unordered_set<Inode> changedInodes CADRIO_GUARDED_BY(listingMutex){};
    std::unordered_map<Inode, std::uint64_t> listingOpened CADRIO_GUARDED_BY(listingMutex){};
    std::uint64_t listingEpoch CADRIO_GUARDED_BY(listingMutex) = 0;

    /// The entry of `inode`; the root even before the replica holds it.
    std::optional<ReplicaEntry> entry(Inode inode) const;
    struct stat attributes(const ReplicaEntry& entry) const;
    fuse_entry_param entryParam(const ReplicaEntry& entry) const;
    /// 0 once `folder` is a listed folder, else the errno to answer.
    int ensureListed(Inode folder);
    /// True when the kernel's pages of `inode` hold `contentVersion`;
    /// records it as the version they will hold from now on.
    bool keepPageCache(Inode inode, const fileprovider::ByteString& contentVersion);
    /// Called for every inode notice sent to the kernel.
    void noticeChanged(Inode inode);
    /// True when the kernel's cached listing of `folder` may be kept by this
    /// opendir; from now on it counts as current.
    bool keepListing(Inode folder);
};

/// The handlers; their userdata is a FuseContext.
const fuse_lowlevel_ops& fuseOperations();

/// readdir and readdirplus. Offsets are 1 after ".", 2 after "..", and the
/// last child's inode plus 2 afterwards, so that a listing resumes with one
/// indexed query whatever its size.
void readDirectory(fuse_req_t req, FuseContext& context, Inode folder, std::size_t size, off_t offset, bool plus);
/// opendir: lists a folder not yet listed, then lets the kernel cache the
/// listing (see FuseContext::keepListing). Answers the request or returns the
/// errno to answer.
int openDirectory(fuse_req_t req, FuseContext& context, Inode folder, fuse_file_info* fi);

}  // namespace cadrio::host
