#pragma once
// What the FUSE request handlers work with: the replica and content cache
// they answer from, the sync engine that lists folders not yet seen, the
// content fetcher, the working copies that writes go to, and the time-outs
// they answer with. Private to the FUSE file system (fuse_filesystem.cpp,
// fuse_operations.cpp, fuse_write_operations.cpp, fuse_directory.cpp).
//
// Threads: the handlers run on the loop's worker threads, several at once.
// pageCacheMutex guards pageCacheVersions; it is held for the map access
// only; openFilesMutex guards openFiles, likewise. A handler never sends a kernel notification itself: it posts to
// `notices`, whose worker sends.

#define FUSE_USE_VERSION 34
#include <fuse3/fuse_lowlevel.h>

#include <sys/stat.h>

#include <cerrno>

#include <atomic>
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
#include "platform/host/working_copies.hpp"

namespace cadrio::host {

struct FuseContext {
    Replica& replica;
    ContentCache& cache;
    SyncEngine& engine;
    ContentFetcher& fetcher;
    Clock& clock;
    WorkingCopies& copies;
    NoticeSink& notices;
    /// Tells the uploader that `inode` changed or lost its last writer; may
    /// be empty. Must only queue.
    std::function<void(Inode)> changed;
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
    /// The handles the kernel holds: a session that ends before their
    /// release closes them itself.
    Mutex openFilesMutex{};
    std::unordered_set<struct OpenFile*> openFiles CADRIO_GUARDED_BY(openFilesMutex){};

    /// The entry of `inode`; the root even before the replica holds it.
    std::optional<ReplicaEntry> entry(Inode inode) const;
    /// From the replica, except the size and dates of a file with local
    /// contents, which its working copy holds.
    struct stat attributes(const ReplicaEntry& entry) const;
    fuse_entry_param entryParam(const ReplicaEntry& entry) const;
    /// 0 once `folder` is a listed folder, else the errno to answer.
    int ensureListed(Inode folder);
    /// True when the kernel's pages of `inode` hold `contentVersion`;
    /// records it as the version they will hold from now on.
    bool keepPageCache(Inode inode, const fileprovider::ByteString& contentVersion);
    /// Called for every inode notice sent to the kernel, and with the folder
    /// of every entry notice.
    void noticeChanged(Inode inode);
    /// True when the kernel's cached listing of `folder` may be kept by this
    /// opendir; from now on it counts as current.
    bool keepListing(Inode folder);
    /// The kernel's pages of `inode` hold local bytes: the next open of the
    /// cached contents must not keep them.
    void forgetPageCache(Inode inode);
    void notifyChanged(Inode inode) const {
        if (changed) changed(inode);
    }
};

/// What fi->fh points to for every open file.
struct OpenFile {
    int fd = -1;
    Inode inode = 0;
    /// Counted among the working copy's writers (opened for writing).
    bool writer = false;
    /// Holds the content cache's entry (opened for reading from the cache).
    bool cacheHeld = false;
    /// Written since the last flush: the next flush records the change.
    std::atomic<bool> dirty{false};
    /// Written at all: the kernel must re-read the attributes at release.
    std::atomic<bool> written{false};
};

inline OpenFile& openFileOf(const fuse_file_info* fi) { return *reinterpret_cast<OpenFile*>(fi->fh); }

/// Logs the exception being handled; returns the errno to answer: a file
/// system call's own, else EIO.
int failedRequest(const char* operation) noexcept;

/// Runs a handler body that answers the request itself, or returns an errno
/// for this wrapper to answer; an exception never reaches libfuse's C
/// frames.
template <class Body>
void answerRequest(fuse_req_t req, const char* operation, Body&& body) noexcept {
    int error = EIO;
    try {
        error = body();
    } catch (...) {
        error = failedRequest(operation);
    }
    if (error != 0) fuse_reply_err(req, error);
}

/// The cached contents of `file` at its current version, fetched when
/// missing; the waiting request ends early when its process is interrupted.
ContentFetcher::Result cachedContentsFor(fuse_req_t req, FuseContext& context, const ReplicaEntry& file);

/// The write side's handlers, set into `ops`.
void addWriteOperations(fuse_lowlevel_ops& ops);
/// open with write access or O_TRUNC: the handle is on the working copy.
int openForWriting(fuse_req_t req, FuseContext& context, const ReplicaEntry& file, fuse_file_info* fi);
/// Hands `file` to the kernel in fi->fh and keeps it among the open files.
void keepOpenFile(FuseContext& context, std::unique_ptr<OpenFile> file, fuse_file_info* fi);
/// Closes the handles whose release never came (the session ended first).
void closeRemainingFiles(FuseContext& context) noexcept;
/// Ends what an open handle holds (the descriptor, the cache hold, the
/// writer count) and tells the uploader when the last writer left.
void closeOpenFile(FuseContext& context, OpenFile* file) noexcept;

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
