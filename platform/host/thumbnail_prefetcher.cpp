#include "platform/host/thumbnail_prefetcher.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/host/entry_times.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {

namespace {


/// What the plug-in is asked for: enough for the large thumbnail.
constexpr fileprovider::ThumbnailSize kRequestedSize{ThumbnailCache::kLargePixels,
                                                     ThumbnailCache::kLargePixels};
/// Files known to have no preview; forgotten all at once beyond this.
constexpr std::size_t kMaxNoPreview = 4096;

/// Decoding and scaling give way to everything else the user runs.
void lowerThisThreadsPriority() {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

ThumbnailStamp stampOf(const ReplicaEntry& entry) {
    return {shownModificationSeconds(entry), entry.size, entry.version.contentVersion};
}

}  // namespace

/// One fetchThumbnails call. Its completions may outlive the prefetcher.
struct ThumbnailPrefetcher::Request {
    Mutex mutex;
    std::vector<std::pair<fileprovider::ItemIdentifier, fileprovider::ByteString>> images
        CADRIO_GUARDED_BY(mutex);
    std::vector<fileprovider::ItemIdentifier> withoutPreview CADRIO_GUARDED_BY(mutex);
    std::optional<fileprovider::Error> error CADRIO_GUARDED_BY(mutex);
    bool finished CADRIO_GUARDED_BY(mutex) = false;
    /// Set once the worker stopped waiting: later answers are ignored.
    bool closed CADRIO_GUARDED_BY(mutex) = false;
    std::stop_source done;

    void received(const fileprovider::ItemIdentifier& identifier,
                  std::optional<fileprovider::ByteString> image,
                  const std::optional<fileprovider::Error>& failure) {
        LockGuard lock(mutex);
        if (closed) return;
        if (image) {
            if (image->size() <= ThumbnailCache::kMaxImageBytes)
                images.emplace_back(identifier, std::move(*image));
        } else if (!failure) {
            withoutPreview.push_back(identifier);
        }
    }

    void finish(std::optional<fileprovider::Error> failure) {
        {
            LockGuard lock(mutex);
            if (closed || finished) return;
            finished = true;
            error = std::move(failure);
        }
        done.request_stop();
    }

    /// Whether the final completion came.
    bool close() {
        LockGuard lock(mutex);
        closed = true;
        return finished;
    }
};

ThumbnailPrefetcher::ThumbnailPrefetcher(fileprovider::ExtensionPtr extension,
                                         ThumbnailCache& cache, Clock& clock)
    : ThumbnailPrefetcher(std::move(extension), cache, clock, Options{}) {}

ThumbnailPrefetcher::ThumbnailPrefetcher(fileprovider::ExtensionPtr extension,
                                         ThumbnailCache& cache, Clock& clock, Options options)
    : extension_(std::move(extension)), cache_(cache), clock_(clock), options_(options) {}

ThumbnailPrefetcher::~ThumbnailPrefetcher() {
    std::shared_ptr<Request> inFlight;
    {
        LockGuard lock(mutex_);
        stopping_ = true;
        queue_.clear();
        inFlight = inFlight_;
    }
    if (inFlight) inFlight->done.request_stop();
    worker_.close();
}

void ThumbnailPrefetcher::folderListed(std::vector<ListedFile> files) {
    bool start = false;
    {
        LockGuard lock(mutex_);
        if (stopping_) return;
        for (ListedFile& file : files) {
            if (!file.entry.isFolder) queue_.push_back(std::move(file));
        }
        while (queue_.size() > options_.maxQueued) queue_.pop_front();
        start = !working_ && !queue_.empty();
        if (start) working_ = true;
    }
    if (start) worker_.submit([this] { work(); });
}

void ThumbnailPrefetcher::waitUntilIdle() {
    UniqueLock lock(mutex_);
    while (working_ || !queue_.empty()) idle_.wait(lock);
}

std::vector<ListedFile> ThumbnailPrefetcher::nextBatch() {
    std::vector<ListedFile> batch;
    {
        LockGuard lock(mutex_);
        if (stopping_) queue_.clear();
        while (!queue_.empty() && batch.size() < options_.batchSize) {
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        if (!batch.empty()) return batch;
        working_ = false;
    }
    idle_.notify_all();
    return batch;
}

void ThumbnailPrefetcher::work() {
    lowerThisThreadsPriority();
    for (std::vector<ListedFile> batch = nextBatch(); !batch.empty(); batch = nextBatch()) {
        try {
            if (unsupported_) continue;
            std::erase_if(batch, [this](const ListedFile& file) { return isUpToDate(file); });
            if (!batch.empty()) fetch(batch);
        } catch (...) {
            if (!std::exchange(loggedFailure_, true)) {
                hostLogger().error("Vignettes non écrites : {}",
                               fileprovider::errorFromException(std::current_exception()));
            }
        }
    }
}

bool ThumbnailPrefetcher::isUpToDate(const ListedFile& file) const {
    const ReplicaEntry& entry = file.entry;
    if (noPreview_.contains({entry.identifier.rawValue(), entry.version.contentVersion}))
        return true;
    return cache_.isCurrent(file.path, stampOf(entry));
}

void ThumbnailPrefetcher::fetch(const std::vector<ListedFile>& batch) {
    const auto request = std::make_shared<Request>();
    {
        LockGuard lock(mutex_);
        if (stopping_) return;
        inFlight_ = request;
    }
    std::vector<fileprovider::ItemIdentifier> identifiers;
    for (const ListedFile& file : batch) identifiers.push_back(file.entry.identifier);
    std::shared_ptr<fileprovider::Progress> progress;
    try {
        progress = extension_->fetchThumbnails(
            std::move(identifiers), kRequestedSize,
            [request](const fileprovider::ItemIdentifier& identifier,
                      std::optional<fileprovider::ByteString> image,
                      std::optional<fileprovider::Error> error) {
                request->received(identifier, std::move(image), error);
            },
            [request](std::optional<fileprovider::Error> error) {
                request->finish(std::move(error));
            });
    } catch (...) {
        request->finish(fileprovider::errorFromException(std::current_exception()));
    }
    const bool timedOut = clock_.sleepFor(options_.requestTimeout, request->done.get_token());
    const bool completed = request->close();
    bool stopping = false;
    {
        LockGuard lock(mutex_);
        inFlight_.reset();
        stopping = stopping_;
    }
    if (!completed) {
        if (progress) progress->cancel();
        if (timedOut)
            hostLogger().error("Le module n'a pas répondu à une demande de {} vignettes", batch.size());
    }
    if (!stopping) apply(batch, *request);
}

void ThumbnailPrefetcher::apply(const std::vector<ListedFile>& batch, Request& request) {
    std::map<std::string_view, const ListedFile*> asked;
    for (const ListedFile& file : batch) asked.emplace(file.entry.identifier.rawValue(), &file);
    const auto fileOf =
        [&asked](const fileprovider::ItemIdentifier& identifier) -> const ListedFile* {
        const auto found = asked.find(identifier.rawValue());
        return found == asked.end() ? nullptr : found->second;
    };

    std::vector<std::pair<fileprovider::ItemIdentifier, fileprovider::ByteString>> images;
    std::vector<fileprovider::ItemIdentifier> withoutPreview;
    std::optional<fileprovider::Error> error;
    {
        LockGuard lock(request.mutex);
        images = std::move(request.images);
        withoutPreview = std::move(request.withoutPreview);
        error = request.error;
        // "Nothing" from a request that failed or never ended may mean the
        // drive could not be reached, not that it has no preview.
        if (error || !request.finished) withoutPreview.clear();
    }
    if (error) {
        if (error->is(fileprovider::CocoaErrorCode::featureUnsupported)) unsupported_ = true;
        if (!std::exchange(loggedFailure_, true))
            hostLogger().error("Demande de vignettes en échec : {}", *error);
    }
    for (const auto& image : images) {
        if (const ListedFile* file = fileOf(image.first))
            cache_.store(file->path, stampOf(file->entry), image.second);
    }
    for (const auto& identifier : withoutPreview) {
        const ListedFile* file = fileOf(identifier);
        if (file == nullptr) continue;
        cache_.remove(file->path);  // a thumbnail of an older version
        if (noPreview_.size() >= kMaxNoPreview) noPreview_.clear();
        noPreview_.insert({identifier.rawValue(), file->entry.version.contentVersion});
    }
}

}  // namespace cadrio::host
