#include "platform/host/sync_engine.hpp"

#include <map>
#include <stop_token>

#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"
#include "platform/host/sync_observers.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;

Error cannotSynchronize(std::string description) {
    return Error::fileProvider(fileprovider::FileProviderErrorCode::cannotSynchronize,
                               std::move(description));
}
Error serverUnreachable(std::string description) {
    return Error::fileProvider(fileprovider::FileProviderErrorCode::serverUnreachable,
                               std::move(description));
}
using fileprovider::ItemIdentifier;

// A plug-in that keeps handing out next pages is not listing anything.
constexpr int kMaxPages = 10000;
constexpr std::size_t kThreads = 2;

/// What escapes a plug-in call, as the error that ends its enumeration.
Error errorOf(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const fileprovider::ErrorException& error) {
        return error.error();
    } catch (const std::exception& error) {
        return Error{std::string(fileprovider::kForeignErrorDomain), 0, error.what()};
    } catch (...) {
        return Error{std::string(fileprovider::kForeignErrorDomain), 0, "unknown exception"};
    }
}

/// A folder listing that callers of listFolder wait for together.
struct FolderListing {
    std::stop_source done;
    bool finished = false;        // guarded by the engine's mutex
    std::optional<Error> result;  // guarded by the engine's mutex
};

}  // namespace

class SyncEngine::Impl {
  public:
    Impl(fileprovider::ExtensionPtr extension, Replica& replica, NoticeSink& notices, Clock& clock,
         Options options)
        : extension_(std::move(extension)),
          replica_(replica),
          sink_(notices),
          clock_(clock),
          options_(options) {}

    ~Impl() {
        {
            LockGuard lock(mutex_);
            stopping_ = true;
        }
        shutdown_.request_stop();
        pool_.close();
        std::vector<std::function<void()>> waiters;
        {
            LockGuard lock(mutex_);
            waiters.swap(idleWaiters_);
        }
        for (auto& waiter : waiters) waiter();
    }

    void start() {
        bool relist = true;
        try {
            relist = !replica_.anchor();
        } catch (const ReplicaError& error) {
            logger_.error("Réplique illisible : {}", std::string(error.what()));
        }
        if (relist) {
            logger_.info("Réplique vide : liste complète de l'ensemble de travail");
        } else {
            logger_.info("Réplique reprise : changements depuis l'ancre enregistrée");
        }
        schedule(relist);
    }

    void schedule(bool relist) {
        bool startWorker = false;
        {
            LockGuard lock(mutex_);
            if (stopping_) return;
            (relist ? pendingRelist_ : pendingChanges_) = true;
            startWorker = !workerRunning_;
            workerRunning_ = true;
        }
        if (startWorker) pool_.submit([this] { runWorkingSet(); });
    }

    std::optional<Error> listFolder(Inode folder, Clock::TimePoint deadline, bool again) {
        std::optional<ReplicaEntry> entry;
        try {
            entry = replica_.entry(folder);
        } catch (const ReplicaError& error) {
            return cannotSynchronize(error.what());
        }
        if (!entry || !entry->isFolder) return Error::noSuchItem();
        if (entry->childrenListed && !again) return std::nullopt;

        std::shared_ptr<FolderListing> listing;
        bool fresh = false;
        {
            LockGuard lock(mutex_);
            if (stopping_) return Error::userCancelled();
            auto& slot = folders_[folder];
            fresh = !slot;
            if (fresh) slot = std::make_shared<FolderListing>();
            listing = slot;
        }
        if (fresh) {
            const ItemIdentifier identifier = entry->identifier;
            pool_.submit(
                [this, folder, identifier, listing] { runFolder(folder, identifier, listing); });
        }
        clock_.sleepUntil(deadline, listing->done.get_token());
        LockGuard lock(mutex_);
        if (listing->finished) return listing->result;
        return serverUnreachable("the folder listing did not finish in time");
    }

    bool isIdle() const {
        LockGuard lock(mutex_);
        return idleLocked();
    }

    bool workingSetCurrent() const {
        LockGuard lock(mutex_);
        return workingSetCurrent_;
    }

    void whenIdle(std::function<void()> done) {
        {
            LockGuard lock(mutex_);
            if (!idleLocked()) {
                idleWaiters_.push_back(std::move(done));
                return;
            }
        }
        done();
    }

  private:
    bool idleLocked() const CADRIO_REQUIRES(mutex_) { return !workerRunning_ && folders_.empty(); }

    std::vector<std::function<void()>> takeIdleWaitersLocked() CADRIO_REQUIRES(mutex_) {
        std::vector<std::function<void()>> waiters;
        if (idleLocked()) waiters.swap(idleWaiters_);
        return waiters;
    }

    /// The working set's queue: a relisting covers the changes asked for
    /// before it started, and what arrives meanwhile is one follow-up.
    void runWorkingSet() {
        for (;;) {
            bool relist = false;
            {
                LockGuard lock(mutex_);
                if (stopping_ || (!pendingRelist_ && !pendingChanges_)) break;
                relist = pendingRelist_;
                pendingRelist_ = false;
                pendingChanges_ = false;
            }
            const bool current = relist ? relistWorkingSet() : enumerateChanges();
            LockGuard lock(mutex_);
            workingSetCurrent_ = current;
        }
        std::vector<std::function<void()>> waiters;
        {
            LockGuard lock(mutex_);
            workerRunning_ = false;
            waiters = takeIdleWaitersLocked();
        }
        for (auto& waiter : waiters) waiter();
    }

    std::shared_ptr<fileprovider::Enumerator> makeEnumerator(const ItemIdentifier& container,
                                                             bool system) {
        fileprovider::Request request;
        request.isSystemRequest = system;
        try {
            auto enumerator = extension_->enumerator(container, request);
            if (!enumerator) fail(cannotSynchronize("the plug-in gave no enumerator"));
            return enumerator;
        } catch (...) {
            fail(errorOf(std::current_exception()));
        }
        return nullptr;
    }

    /// Runs one plug-in call that answers on `answer`, and waits for it.
    template <class Call>
    EnumerationOutcome await(TrackedAnswer& answer, Call&& call) {
        try {
            call();
        } catch (...) {
            answer.abandon(errorOf(std::current_exception()));
        }
        EnumerationOutcome outcome =
            answer.wait(options_.enumerationTimeout, shutdown_.get_token());
        if (outcome.error) fail(*outcome.error);
        return outcome;
    }

    void fail(const Error& error) {
        if (error.is(fileprovider::CocoaErrorCode::userCancelled) && shutdown_.stop_requested())
            return;
        if (error.is(fileprovider::FileProviderErrorCode::syncAnchorExpired)) return;
        logger_.error("Énumération échouée : {} {} {}", error.domain, error.code,
                      error.description);
    }

    void post(std::vector<KernelNotice> notices) { sink_.post(std::move(notices)); }

    /// True when the replica holds the whole working set afterwards.
    bool relistWorkingSet() {
        try {
            replica_.beginRelisting();
        } catch (const ReplicaError& error) {
            fail(cannotSynchronize(error.what()));
            return false;
        }
        const auto enumerator = makeEnumerator(ItemIdentifier::workingSet(), true);
        if (!enumerator) return false;
        bool current = false;
        if (listWorkingSet(*enumerator)) {
            auto answer = std::make_shared<AnchorAnswer>(clock_);
            const EnumerationOutcome outcome = await(*answer, [&] {
                enumerator->currentSyncAnchor(
                    [answer](std::optional<fileprovider::SyncAnchor> anchor) {
                        answer->take(std::move(anchor));
                    });
            });
            if (!outcome.error) {
                try {
                    post(replica_.finishRelisting(outcome.anchor));
                    current = true;
                } catch (const ReplicaError& error) {
                    fail(cannotSynchronize(error.what()));
                }
            }
        }
        enumerator->invalidate();
        return current;
    }

    bool listWorkingSet(fileprovider::Enumerator& enumerator) {
        const ListingStamp listedAt = replica_.listingStamp();
        fileprovider::Page page = fileprovider::Page::initialSortedByName();
        for (int pages = 0; pages < kMaxPages; ++pages) {
            auto observer = std::make_shared<SliceObserver>(replica_, sink_, clock_, listedAt);
            const EnumerationOutcome outcome =
                await(*observer, [&] { enumerator.enumerateItems(observer, page); });
            if (outcome.error) return false;
            if (!outcome.nextPage) return true;
            page = *outcome.nextPage;
        }
        fail(cannotSynchronize("the working-set listing never ended"));
        return false;
    }

    /// True when the replica holds every change up to the drive's last.
    bool enumerateChanges() {
        std::optional<fileprovider::SyncAnchor> anchor;
        try {
            anchor = replica_.anchor();
        } catch (const ReplicaError& error) {
            fail(cannotSynchronize(error.what()));
            return false;
        }
        if (!anchor) return relistWorkingSet();
        const auto enumerator = makeEnumerator(ItemIdentifier::workingSet(), true);
        if (!enumerator) return false;
        bool expired = false;
        bool current = false;
        for (int pages = 0; pages < kMaxPages; ++pages) {
            auto observer = std::make_shared<ChangesObserver>(replica_, sink_, clock_);
            const EnumerationOutcome outcome =
                await(*observer, [&] { enumerator->enumerateChanges(observer, *anchor); });
            expired = outcome.error &&
                      outcome.error->is(fileprovider::FileProviderErrorCode::syncAnchorExpired);
            current = !outcome.error && !outcome.moreComing;
            if (outcome.error || !outcome.moreComing || !outcome.anchor) break;
            anchor = outcome.anchor;
        }
        enumerator->invalidate();
        if (!expired) return current;
        logger_.notice("Ancre de synchronisation expirée : nouvelle liste complète");
        return relistWorkingSet();
    }

    void runFolder(Inode folder, const ItemIdentifier& identifier,
                   const std::shared_ptr<FolderListing>& listing) {
        std::optional<Error> result = listFolderNow(folder, identifier);
        std::vector<std::function<void()>> waiters;
        {
            LockGuard lock(mutex_);
            listing->finished = true;
            listing->result = std::move(result);
            folders_.erase(folder);
            waiters = takeIdleWaitersLocked();
        }
        listing->done.request_stop();
        for (auto& waiter : waiters) waiter();
    }

    std::optional<Error> listFolderNow(Inode folder, const ItemIdentifier& identifier) {
        const auto enumerator = makeEnumerator(identifier, false);
        if (!enumerator) return cannotSynchronize("the folder cannot be enumerated");
        auto accumulated = std::make_shared<std::vector<fileprovider::ItemPtr>>();
        const ListingStamp listedAt = replica_.listingStamp();
        fileprovider::Page page = fileprovider::Page::initialSortedByName();
        std::optional<Error> result = cannotSynchronize("the folder listing never ended");
        for (int pages = 0; pages < kMaxPages; ++pages) {
            auto observer =
                std::make_shared<FolderObserver>(folder, accumulated, replica_, sink_, clock_, listedAt);
            const EnumerationOutcome outcome =
                await(*observer, [&] { enumerator->enumerateItems(observer, page); });
            if (outcome.error || !outcome.nextPage) {
                result = outcome.error;
                break;
            }
            page = *outcome.nextPage;
        }
        enumerator->invalidate();
        if (result && result->is(fileprovider::FileProviderErrorCode::noSuchItem)) {
            try {
                post(replica_.forgetMissingItem(folder, listedAt));
            } catch (const ReplicaError& error) {
                fail(cannotSynchronize(error.what()));
            }
        }
        return result;
    }

    const fileprovider::ExtensionPtr extension_;
    Replica& replica_;
    NoticeSink& sink_;
    Clock& clock_;
    const Options options_;
    const log::Logger& logger_ = hostLogger();
    std::stop_source shutdown_;

    mutable Mutex mutex_;
    bool stopping_ CADRIO_GUARDED_BY(mutex_) = false;
    bool workerRunning_ CADRIO_GUARDED_BY(mutex_) = false;
    bool pendingRelist_ CADRIO_GUARDED_BY(mutex_) = false;
    bool pendingChanges_ CADRIO_GUARDED_BY(mutex_) = false;
    bool workingSetCurrent_ CADRIO_GUARDED_BY(mutex_) = false;  // see SyncEngine::workingSetCurrent()
    std::map<Inode, std::shared_ptr<FolderListing>> folders_ CADRIO_GUARDED_BY(mutex_);
    std::vector<std::function<void()>> idleWaiters_ CADRIO_GUARDED_BY(mutex_);

    // Last: its threads use everything above, and close() joins them first.
    WorkPool pool_{kThreads};
};

SyncEngine::SyncEngine(fileprovider::ExtensionPtr extension, Replica& replica, NoticeSink& notices,
                       Clock& clock, Options options)
    : impl_(std::make_unique<Impl>(std::move(extension), replica, notices, clock, options)) {}

SyncEngine::~SyncEngine() = default;

void SyncEngine::start() {
    impl_->start();
}
void SyncEngine::signal() {
    impl_->schedule(false);
}
std::optional<Error> SyncEngine::listFolder(Inode folder, Clock::TimePoint deadline, bool again) {
    return impl_->listFolder(folder, deadline, again);
}
bool SyncEngine::isIdle() const {
    return impl_->isIdle();
}
bool SyncEngine::workingSetCurrent() const {
    return impl_->workingSetCurrent();
}
void SyncEngine::whenIdle(std::function<void()> done) {
    impl_->whenIdle(std::move(done));
}

}  // namespace cadrio::host
