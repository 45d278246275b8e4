#pragma once
// Fills the desktop's thumbnail cache for the files of the folders a domain
// lists, from the previews the plug-in's fetchThumbnails offers, so that a
// file manager never opens (and downloads) a file to thumbnail it. Nothing
// here fetches contents.
//
// - folderListed() only queues and returns; one worker thread at the lowest
//   CPU priority does the rest, one plug-in request at a time, in batches.
// - The queue is bounded: beyond its limit the oldest files are dropped (the
//   user has moved on to other folders by then).
// - Skipped: folders, files whose thumbnails are current (same time and
//   content version, see ThumbnailCache::isCurrent), and files the plug-in
//   already said have no preview at that content version.
// - No preview on the server writes nothing, and removes a thumbnail of an
//   older version; a preview that cannot be decoded writes nothing either.
// - A plug-in that answers "feature unsupported" is not asked again.
// - A request that has not completed after `requestTimeout` (the injected
//   clock's time) is cancelled and its late answers ignored.
//
// Threads: every member may be called from any thread. mutex_ guards the
// queue, the worker's state and the request in flight; it is never held
// while the plug-in is called or a thumbnail is read or written. The
// plug-in's completions only touch their own request's state, under that
// request's mutex, so they may come from any thread, even from inside
// fetchThumbnails, and after the prefetcher is gone.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/support/clock.hpp"
#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/thumbnail_cache.hpp"

namespace cadrio::host {

/// A file of a listed folder and where the mount shows it.
struct ListedFile {
    ReplicaEntry entry;
    std::filesystem::path path;
};

class ThumbnailPrefetcher {
  public:
    struct Options {
        std::size_t batchSize = 32;
        std::size_t maxQueued = 2048;
        Clock::Duration requestTimeout = std::chrono::minutes(2);
    };

    /// `cache` and `clock` must outlive the prefetcher. It keeps the
    /// extension: destroy it before the plug-in is unloaded.
    ThumbnailPrefetcher(fileprovider::ExtensionPtr extension, ThumbnailCache& cache, Clock& clock);
    ThumbnailPrefetcher(fileprovider::ExtensionPtr extension, ThumbnailCache& cache, Clock& clock,
                        Options options);
    /// Drops the queue, cancels the request in flight and joins the worker.
    ~ThumbnailPrefetcher();
    ThumbnailPrefetcher(const ThumbnailPrefetcher&) = delete;
    ThumbnailPrefetcher& operator=(const ThumbnailPrefetcher&) = delete;

    void folderListed(std::vector<ListedFile> files) CADRIO_EXCLUDES(mutex_);

    /// Blocks until the queue is empty and no request is in flight.
    void waitUntilIdle() CADRIO_EXCLUDES(mutex_);

  private:
    struct Request;
    using NoPreviewKey = std::pair<std::string, fileprovider::ByteString>;

    void work() CADRIO_EXCLUDES(mutex_);
    std::vector<ListedFile> nextBatch() CADRIO_EXCLUDES(mutex_);
    bool isUpToDate(const ListedFile& file) const;
    void fetch(const std::vector<ListedFile>& batch) CADRIO_EXCLUDES(mutex_);
    void apply(const std::vector<ListedFile>& batch, Request& request);

    const fileprovider::ExtensionPtr extension_;
    ThumbnailCache& cache_;
    Clock& clock_;
    const Options options_;

    Mutex mutex_;
    std::condition_variable_any idle_;
    std::deque<ListedFile> queue_ CADRIO_GUARDED_BY(mutex_);
    bool working_ CADRIO_GUARDED_BY(mutex_) = false;
    bool stopping_ CADRIO_GUARDED_BY(mutex_) = false;
    std::shared_ptr<Request> inFlight_ CADRIO_GUARDED_BY(mutex_);
    /// Worker thread only.
    std::set<NoPreviewKey> noPreview_;
    bool unsupported_ = false;
    bool loggedFailure_ = false;

    /// Last member: joined first, while everything its jobs use still lives.
    WorkPool worker_{1};
};

}  // namespace cadrio::host
