// Thumbnails: a few preview downloads at a time, each answered on its own.

#include <deque>
#include <exception>

#include "core/support/thread_annotations.hpp"
#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/file_provider_extension.hpp"

namespace cadrio {

using fileprovider::ByteString;
using fileprovider::Error;

namespace {

/// The answers of one request, in the order the host may receive them: no
/// per-identifier answer after the final one. mutex_ guards closed_ and is
/// held while one answer is handed over, so that a cancellation cannot
/// overtake an answer being given; nothing else is locked under it.
class ThumbnailAnswers {
public:
    ThumbnailAnswers(FileProviderExtension::PerThumbnailCompletion perItem,
                     FileProviderExtension::ThumbnailsCompletion final)
        : perItem_(std::move(perItem)), final_(std::move(final)) {}

    void item(const fileprovider::ItemIdentifier& identifier, std::optional<ByteString> image) CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        if (!closed_ && perItem_) perItem_(identifier, std::move(image), std::nullopt);
    }
    void finish(std::optional<Error> error) CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        if (final_) final_(std::move(error));
    }

private:
    Mutex mutex_;
    bool closed_ CADRIO_GUARDED_BY(mutex_) = false;
    const FileProviderExtension::PerThumbnailCompletion perItem_;
    const FileProviderExtension::ThumbnailsCompletion final_;
};

/// Children of one task on the shared pool, told apart by their start.
/// mutex_ guards the fields below it.
class Children {
public:
    explicit Children(WorkPool& pool) : pool_(pool) {}

    void start(std::function<void()> job) CADRIO_EXCLUDES(mutex_) {
        auto child = std::make_shared<Child>();
        child->ticket = pool_.submit([this, child, job = std::move(job)] {
            {
                LockGuard lock(mutex_);
                child->started = true;
            }
            job();
            LockGuard lock(mutex_);
            finished_.push_back(child);
            changed_.notify_all();
        });
        LockGuard lock(mutex_);
        running_.push_back(std::move(child));
    }

    std::size_t inFlight() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return running_.size();
    }

    /// Waits until one child has finished, running on this thread those that
    /// no thread has taken (they may never start otherwise).
    void waitForOne() CADRIO_EXCLUDES(mutex_) {
        for (;;) {
            std::shared_ptr<Child> waiting;
            {
                UniqueLock lock(mutex_);
                if (!finished_.empty()) break;
                for (const auto& child : running_) {
                    if (!child->started) waiting = child;
                }
                if (!waiting) {
                    while (finished_.empty()) changed_.wait(lock);
                    break;
                }
            }
            pool_.runOrWait(waiting->ticket);
        }
        LockGuard lock(mutex_);
        const std::shared_ptr<Child> child = finished_.front();
        finished_.pop_front();
        std::erase(running_, child);
    }

private:
    struct Child {
        std::shared_ptr<WorkPool::Ticket> ticket;
        bool started = false;  // guarded by Children::mutex_
    };

    WorkPool& pool_;
    mutable Mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::shared_ptr<Child>> running_ CADRIO_GUARDED_BY(mutex_);
    std::deque<std::shared_ptr<Child>> finished_ CADRIO_GUARDED_BY(mutex_);  // not yet waited for
};

}  // namespace

std::shared_ptr<fileprovider::Progress> FileProviderExtension::fetchThumbnails(
    std::vector<fileprovider::ItemIdentifier> identifiers, fileprovider::ThumbnailSize,
    PerThumbnailCompletion perThumbnailCompletion, ThumbnailsCompletion completion) {
    auto answers = std::make_shared<ThumbnailAnswers>(std::move(perThumbnailCompletion), std::move(completion));
    auto progress = fileprovider::Progress::create(static_cast<std::int64_t>(identifiers.size()));
    std::function<void(std::optional<Error>)> finish = [answers](std::optional<Error> error) {
        answers->finish(std::move(error));
    };
    return startCancellableTask(
        *tasks_, progress, std::move(finish), [](const auto& complete) { complete(Error::userCancelled()); },
        [this, answers, progress, identifiers = std::move(identifiers)](std::stop_token stop, const auto& complete) {
            Children children(tasks_->pool());
            std::size_t next = 0;
            std::size_t done = 0;
            while (done < identifiers.size()) {
                while (!stop.stop_requested() && next < identifiers.size() &&
                       children.inFlight() < kThumbnailDownloads) {
                    children.start([this, answers, &identifier = identifiers[next], stop] {
                        answers->item(identifier, thumbnail(identifier, stop));
                    });
                    ++next;
                }
                if (children.inFlight() == 0) break;
                children.waitForOne();
                progress->setCompletedUnitCount(static_cast<std::int64_t>(++done));
            }
            // Stopped by the host's cancellation, which has answered, or by the
            // extension going away, which has not.
            complete(stop.stop_requested() ? std::optional(Error::userCancelled()) : std::nullopt);
        });
}

std::optional<ByteString> FileProviderExtension::thumbnail(const fileprovider::ItemIdentifier& identifier,
                                                           std::stop_token stop) const {
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed || parsed->kind() != ItemIdentifier::Kind::file) return std::nullopt;
    const std::int64_t id = parsed->id();
    const std::optional<DriveFile> file = parts_.store->file(id);
    if (!file) {
        logger_.info("Vignette {} : fichier inconnu de la mémoire locale.", id);
        return std::nullopt;
    }
    try {
        restore_->waitUntilFinished(stop);
        const std::optional<std::string> url = parts_.api->thumbnailURL(*file, stop);
        if (!url) {
            logger_.info("Vignette {} : aucune miniature côté serveur ({} clé).", id, file->thumbnailKeys().size());
            return std::nullopt;
        }
        // A presigned address: the drive's token must not travel with it.
        HttpRequest request;
        request.url = *url;
        request.redirects = parts_.client->storageDownloadRedirects();
        HttpResponse response = parts_.client->transport().send(request, stop);
        if (response.isSuccess() && !response.body.empty()) {
            logger_.debug("Vignette {} : {} octets.", id, response.body.size());
            return std::move(response.body);
        }
        logger_.info("Vignette {} : stockage HTTP {}, {} octets.", id, response.status, response.body.size());
    } catch (...) {
        logger_.info("Vignette {} indisponible : {}", id, describeError(std::current_exception()));
    }
    return std::nullopt;
}

}  // namespace cadrio
