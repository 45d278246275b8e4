#pragma once
// Brings the contents of files into the content cache through the plug-in,
// for the opens that need them.
//
// - One fetch per inode at a time: a second open of a file being fetched
//   waits for the same fetch instead of starting another.
// - An open whose wait is interrupted (the process got a signal) answers
//   EINTR at once; the fetch itself is cancelled when no other open still
//   waits for it.
// - A fetch whose progress does not move for `stuckTimeout` is cancelled and
//   its waiters answer EIO. The check runs once per time-out, on the
//   waiters' own threads: no timer, no polling.
// - The plug-in's temporary file is adopted by the ContentCache under the
//   content version of the item it answered with, and that item goes into
//   the replica.
// - A plug-in that throws, answers twice or answers nothing usable fails
//   that fetch with EIO (logged); a second answer is ignored.
//
// Threads: every member may be called from any thread. mutex_ of the shared
// state guards the fetches in flight and the closed flag; it is never held
// while calling the plug-in, the cache or the replica, nor while a waiter
// sleeps. Completions that arrive after shutdown() are dropped (their file
// removed): the cache and replica may be gone by then.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>

#include "core/support/clock.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"
#include "platform/host/transfer_progress.hpp"

namespace cadrio::host {

class ContentFetcher {
public:
    struct Result {
        /// The cached file; empty on failure.
        std::filesystem::path path;
        /// The content version that file holds.
        fileprovider::ByteString contentVersion;
        /// 0, or the errno to answer.
        int error = 0;
    };

    ContentFetcher(fileprovider::ExtensionPtr extension, Replica& replica, ContentCache& cache, NoticeSink& notices,
                   Clock& clock, std::chrono::milliseconds stuckTimeout);
    /// shutdown().
    ~ContentFetcher();
    ContentFetcher(const ContentFetcher&) = delete;
    ContentFetcher& operator=(const ContentFetcher&) = delete;

    /// Blocks until the contents of `file` are cached, the fetch fails, or
    /// `interrupted` is requested (EINTR).
    Result fetch(const ReplicaEntry& file, std::stop_token interrupted);

    /// Cancels every fetch, wakes every waiter (EIO) and waits for the
    /// completions being handled; later fetches fail at once. Idempotent.
    void shutdown();

    /// Bytes of the fetches in flight.
    TransferProgress progress() const;

    /// Calls `done` once, from any thread, when no fetch is in flight (at
    /// once when none is now, and at shutdown()).
    void whenIdle(std::function<void()> done);

private:
    struct Shared;
    struct Fetch;
    struct Waiter;

    std::shared_ptr<Fetch> join(const ReplicaEntry& file, ListingStamp askedAt, Waiter& waiter, bool& starter);
    void start(const std::shared_ptr<Fetch>& fetch);
    Result wait(const std::shared_ptr<Fetch>& fetch, Waiter& waiter);
    Result leave(const std::shared_ptr<Fetch>& fetch, Waiter& waiter, int error);

    const std::shared_ptr<Shared> shared_;
};

}  // namespace cadrio::host
