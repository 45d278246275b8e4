#pragma once
// One domain shown as a folder: a FUSE session mounted at the domain's
// user-visible root, served by a bounded multi-threaded loop from the
// replica and the content cache.
//
// - Entries and attributes are given to the kernel with long time-outs; the
//   kernel notifier invalidates them whenever the replica changes, which is
//   what makes those time-outs safe.
// - A stale mount left at the mount point by a process that died
//   ("Transport endpoint is not connected") is cleared before mounting.
// - Writes go to working copies; each local change is queued in the
//   replica before the request is answered, and `changed` tells the
//   uploader (see fuse_write_operations.cpp and docs/host-contract.md).
//
// Lifetime: every object passed in must outlive this one. The destructor
// shuts the fetcher down (so that no open stays blocked), stops the
// notifier's sends to this session, ends the loop, unmounts and joins.
// Threads: constructed and destroyed on one thread; the handlers run on the
// loop's own threads.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "core/support/clock.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/content_fetcher.hpp"
#include "platform/host/kernel_notifier.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"
#include "platform/host/working_copies.hpp"

namespace cadrio::host {

class FuseFileSystem {
public:
    struct Options {
        std::filesystem::path cacheDirectory;
        std::chrono::milliseconds metadataTimeout{std::chrono::seconds(5)};
        std::chrono::seconds entryTimeout{3600};
        std::chrono::seconds attributeTimeout{3600};
        /// Upper bound of the loop's worker threads.
        unsigned maxThreads = 16;
        /// Told of the files of every folder listing reply, from the request
        /// thread: it must only queue (see FuseContext::filesListed).
        std::function<void(Inode folder, std::vector<ReplicaEntry> files)> filesListed;
        /// Told, from the request thread, that an item changed here or lost
        /// its last writer: it must only queue.
        std::function<void(Inode)> changed;
    };

    /// Mounts at `mountPoint` (created when missing). Throws
    /// std::runtime_error with the reason when it cannot.
    FuseFileSystem(const std::filesystem::path& mountPoint, Replica& replica, ContentCache& cache,
                   WorkingCopies& copies, SyncEngine& engine, ContentFetcher& fetcher, KernelNotifier& notifier,
                   Clock& clock, Options options);
    ~FuseFileSystem();
    FuseFileSystem(const FuseFileSystem&) = delete;
    FuseFileSystem& operator=(const FuseFileSystem&) = delete;

private:
    struct Session;
    std::unique_ptr<Session> session_;
};

/// Clears a dead FUSE mount at `mountPoint` (stat answers ENOTCONN); does
/// nothing to a live one or to a plain folder. Throws std::runtime_error when
/// a dead mount cannot be cleared.
void clearStaleMount(const std::filesystem::path& mountPoint);

}  // namespace cadrio::host
