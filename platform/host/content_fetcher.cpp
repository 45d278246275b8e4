#include "platform/host/content_fetcher.hpp"

#include <cerrno>
#include <condition_variable>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/host/errno_mapping.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {

using fileprovider::Error;
using fileprovider::ItemPtr;
using fileprovider::Progress;

namespace {


void removeQuietly(const std::optional<std::filesystem::path>& file) {
    std::error_code ignored;
    if (file) std::filesystem::remove(*file, ignored);
}

}  // namespace

struct ContentFetcher::Waiter {
    /// Requested when the wait must end: the fetch is over, the fetcher
    /// shuts down, or the open was interrupted.
    std::stop_source wake;
};

struct ContentFetcher::Fetch {
    Inode inode = 0;
    fileprovider::ItemIdentifier identifier = fileprovider::ItemIdentifier::rootContainer();
    fileprovider::ByteString contentVersion;
    std::int64_t size = 0;
    /// The replica's stamp before the plug-in was asked: the item it answers
    /// with may predate a local change sent since, and must not undo it.
    ListingStamp askedAt{};

    // Guarded by Shared::mutex (the analysis cannot name another object's
    // mutex from here).
    std::shared_ptr<Progress> progress;
    bool answered = false;
    bool done = false;
    bool cancelRequested = false;
    Result result;
    std::vector<Waiter*> waiters;
};

struct ContentFetcher::Shared {
    Shared(fileprovider::ExtensionPtr extension, Replica& replica, ContentCache& cache, NoticeSink& notices,
           Clock& clock, std::chrono::milliseconds stuckTimeout)
        : extension(std::move(extension)),
          replica(replica),
          cache(cache),
          notices(notices),
          clock(clock),
          stuckTimeout(stuckTimeout) {}

    const fileprovider::ExtensionPtr extension;
    Replica& replica;
    ContentCache& cache;
    NoticeSink& notices;
    Clock& clock;
    const std::chrono::milliseconds stuckTimeout;

    Mutex mutex;
    std::condition_variable_any completionsDone;
    std::unordered_map<Inode, std::shared_ptr<Fetch>> fetches CADRIO_GUARDED_BY(mutex);
    bool closed CADRIO_GUARDED_BY(mutex) = false;
    int completing CADRIO_GUARDED_BY(mutex) = 0;
    std::vector<std::function<void()>> idleWaiters CADRIO_GUARDED_BY(mutex);

    /// The idle callbacks to call (outside the lock) when nothing runs.
    std::vector<std::function<void()>> takeIdleWaiters() CADRIO_REQUIRES(mutex) {
        if (!fetches.empty() || completing > 0) return {};
        return std::exchange(idleWaiters, {});
    }
    static void call(const std::vector<std::function<void()>>& callbacks) {
        for (const auto& callback : callbacks) callback();
    }

    /// Ends `fetch` with `result` once: wakes its waiters and lets a new
    /// fetch of the inode start.
    void finish(Fetch& fetch, Result result) CADRIO_REQUIRES(mutex) {
        if (fetch.done) return;
        fetch.done = true;
        fetch.result = std::move(result);
        for (Waiter* waiter : fetch.waiters) waiter->wake.request_stop();
        const auto found = fetches.find(fetch.inode);
        if (found != fetches.end() && found->second.get() == &fetch) fetches.erase(found);
    }

    double fractionOf(const Fetch& fetch) CADRIO_EXCLUDES(mutex) {
        std::shared_ptr<Progress> progress;
        {
            LockGuard lock(mutex);
            progress = fetch.progress;
        }
        return progress ? progress->fractionCompleted() : 0.0;
    }

    void complete(const std::shared_ptr<Fetch>& fetch, std::optional<std::filesystem::path> contents, ItemPtr item,
                  std::optional<Error> error) CADRIO_EXCLUDES(mutex) {
        {
            LockGuard lock(mutex);
            if (closed || fetch->answered) {
                if (fetch->answered) hostLogger().error("Le module a répondu deux fois à un téléchargement");
                removeQuietly(contents);
                return;
            }
            fetch->answered = true;
            ++completing;
        }
        Result result = adopt(*fetch, std::move(contents), std::move(item), std::move(error));
        std::vector<std::function<void()>> idle;
        {
            LockGuard lock(mutex);
            --completing;
            finish(*fetch, std::move(result));
            idle = takeIdleWaiters();
        }
        completionsDone.notify_all();
        call(idle);
    }

    Result adopt(const Fetch& fetch, std::optional<std::filesystem::path> contents, ItemPtr item,
                 std::optional<Error> error) CADRIO_EXCLUDES(mutex) {
        Result result;
        if (error) {
            removeQuietly(contents);
            result.error = errnoFor(*error);
            if (result.error != EINTR) hostLogger().error("Téléchargement impossible : {}", error->description);
            return result;
        }
        if (!contents) {
            hostLogger().error("Le module a répondu à un téléchargement sans fichier");
            result.error = EIO;
            return result;
        }
        try {
            result.contentVersion = item ? item->itemVersion().contentVersion : fetch.contentVersion;
            if (item) notices.post(replica.applyListed(std::span<const ItemPtr>(&item, 1), fetch.askedAt));
            result.path = cache.adopt(fetch.inode, *contents, result.contentVersion);
        } catch (const std::exception& failure) {
            hostLogger().error("Contenu téléchargé non conservé : {}", std::string(failure.what()));
            removeQuietly(contents);
            result = Result{};
            result.error = EIO;
        }
        return result;
    }
};

ContentFetcher::ContentFetcher(fileprovider::ExtensionPtr extension, Replica& replica, ContentCache& cache,
                               NoticeSink& notices, Clock& clock, std::chrono::milliseconds stuckTimeout)
    : shared_(std::make_shared<Shared>(std::move(extension), replica, cache, notices, clock, stuckTimeout)) {}

ContentFetcher::~ContentFetcher() { shutdown(); }

ContentFetcher::Result ContentFetcher::fetch(const ReplicaEntry& file, std::stop_token interrupted) {
    Waiter waiter;
    bool starter = false;
    const std::shared_ptr<Fetch> fetch = join(file, shared_->replica.listingStamp(), waiter, starter);
    if (!fetch) return Result{{}, {}, EIO};
    const std::stop_callback onInterrupt(interrupted, [&waiter] { waiter.wake.request_stop(); });
    if (starter) start(fetch);
    Result result = wait(fetch, waiter);
    if (result.error == 0 || !interrupted.stop_requested()) return result;
    return Result{{}, {}, EINTR};
}

std::shared_ptr<ContentFetcher::Fetch> ContentFetcher::join(const ReplicaEntry& file, ListingStamp askedAt,
                                                            Waiter& waiter, bool& starter) {
    Shared& shared = *shared_;
    LockGuard lock(shared.mutex);
    if (shared.closed) return nullptr;
    std::shared_ptr<Fetch>& slot = shared.fetches[file.inode];
    if (!slot) {
        slot = std::make_shared<Fetch>();
        slot->inode = file.inode;
        slot->identifier = file.identifier;
        slot->contentVersion = file.version.contentVersion;
        slot->size = file.size;
        slot->askedAt = askedAt;
        starter = true;
    }
    slot->waiters.push_back(&waiter);
    return slot;
}

void ContentFetcher::start(const std::shared_ptr<Fetch>& fetch) {
    Shared& shared = *shared_;
    const std::weak_ptr<Shared> weakShared = shared_;
    auto completion = [weakShared, fetch](std::optional<std::filesystem::path> contents, ItemPtr item,
                                          std::optional<Error> error) {
        if (const auto owner = weakShared.lock()) {
            owner->complete(fetch, std::move(contents), std::move(item), std::move(error));
        } else {
            removeQuietly(contents);
        }
    };
    std::shared_ptr<Progress> progress;
    try {
        // The latest version: the replica may be a change behind the server.
        progress = shared.extension->fetchContents(fetch->identifier, std::nullopt, fileprovider::Request{},
                                                   std::move(completion));
    } catch (...) {
        const Error error = fileprovider::errorFromException(std::current_exception());
        hostLogger().error("Le module a échoué en lançant un téléchargement : {}", error.description);
        std::vector<std::function<void()>> idle;
        {
            LockGuard lock(shared.mutex);
            shared.finish(*fetch, Result{{}, {}, EIO});
            idle = shared.takeIdleWaiters();
        }
        Shared::call(idle);
        return;
    }
    bool cancel = false;
    {
        LockGuard lock(shared.mutex);
        fetch->progress = progress;
        cancel = fetch->cancelRequested;
    }
    if (cancel && progress) progress->cancel();
}

ContentFetcher::Result ContentFetcher::wait(const std::shared_ptr<Fetch>& fetch, Waiter& waiter) {
    Shared& shared = *shared_;
    double seen = shared.fractionOf(*fetch);
    Clock::TimePoint deadline = shared.clock.now() + shared.stuckTimeout;
    for (;;) {
        if (waiter.wake.stop_requested()) return leave(fetch, waiter, EINTR);
        if (!shared.clock.sleepUntil(deadline, waiter.wake.get_token())) continue;
        const double fraction = shared.fractionOf(*fetch);
        if (fraction != seen) {
            seen = fraction;
            deadline = shared.clock.now() + shared.stuckTimeout;
            continue;
        }
        hostLogger().error("Téléchargement bloqué, abandonné");
        std::shared_ptr<Progress> progress;
        std::vector<std::function<void()>> idle;
        {
            LockGuard lock(shared.mutex);
            fetch->cancelRequested = true;
            progress = fetch->progress;
            shared.finish(*fetch, Result{{}, {}, EIO});
            idle = shared.takeIdleWaiters();
        }
        if (progress) progress->cancel();
        Shared::call(idle);
    }
}

ContentFetcher::Result ContentFetcher::leave(const std::shared_ptr<Fetch>& fetch, Waiter& waiter, int error) {
    Shared& shared = *shared_;
    std::shared_ptr<Progress> abandoned;
    std::vector<std::function<void()>> idle;
    Result result;
    {
        LockGuard lock(shared.mutex);
        std::erase(fetch->waiters, &waiter);
        if (fetch->done) return fetch->result;
        if (shared.closed) {
            shared.finish(*fetch, Result{{}, {}, EIO});
            return fetch->result;
        }
        result.error = error;
        if (fetch->waiters.empty()) {
            // Nobody wants these contents any more.
            fetch->cancelRequested = true;
            abandoned = fetch->progress;
            shared.finish(*fetch, result);
            idle = shared.takeIdleWaiters();
        }
    }
    if (abandoned) abandoned->cancel();
    Shared::call(idle);
    return result;
}

void ContentFetcher::shutdown() {
    Shared& shared = *shared_;
    std::vector<std::shared_ptr<Progress>> cancelled;
    {
        LockGuard lock(shared.mutex);
        shared.closed = true;
        std::vector<std::shared_ptr<Fetch>> running;
        for (const auto& [inode, fetch] : shared.fetches) running.push_back(fetch);
        for (const std::shared_ptr<Fetch>& fetch : running) {
            fetch->cancelRequested = true;
            if (fetch->progress) cancelled.push_back(fetch->progress);
            shared.finish(*fetch, Result{{}, {}, EIO});
        }
    }
    for (const std::shared_ptr<Progress>& progress : cancelled) progress->cancel();
    std::vector<std::function<void()>> idle;
    {
        UniqueLock lock(shared.mutex);
        shared.completionsDone.wait(lock,
                                    [&shared]() CADRIO_NO_THREAD_SAFETY_ANALYSIS { return shared.completing == 0; });
        idle = shared.takeIdleWaiters();
    }
    Shared::call(idle);
}

void ContentFetcher::whenIdle(std::function<void()> done) {
    Shared& shared = *shared_;
    {
        LockGuard lock(shared.mutex);
        if (!shared.fetches.empty() || shared.completing > 0) {
            shared.idleWaiters.push_back(std::move(done));
            return;
        }
    }
    done();
}

TransferProgress ContentFetcher::progress() const {
    Shared& shared = *shared_;
    std::vector<std::pair<std::int64_t, std::shared_ptr<Progress>>> running;
    {
        LockGuard lock(shared.mutex);
        for (const auto& [inode, fetch] : shared.fetches) running.emplace_back(fetch->size, fetch->progress);
    }
    TransferProgress total;
    total.finished = running.empty();
    for (const auto& [size, progress] : running) {
        total.totalBytes += size;
        if (progress) total.completedBytes += static_cast<std::int64_t>(progress->fractionCompleted() * size);
    }
    return total;
}

}  // namespace cadrio::host
