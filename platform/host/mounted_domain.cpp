#include "platform/host/mounted_domain.hpp"

#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "core/support/thread_annotations.hpp"
#include "platform/host/change_uploader.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/content_fetcher.hpp"
#include "platform/host/fuse_filesystem.hpp"
#include "platform/host/kernel_notifier.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"
#include "platform/host/thumbnail_cache.hpp"
#include "platform/host/thumbnail_prefetcher.hpp"
#include "platform/host/working_copies.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

/// Creations a stopped host was sending, or whose answer it lost: the drive
/// may hold the bytes they sent, which must therefore outlive the restart.
std::unordered_set<Inode> creationsThatMayHaveLanded(const Replica& replica) {
    std::unordered_set<Inode> inodes;
    for (const PendingChange& record : replica.pendingChanges()) {
        if (contains(record.sending, LocalChange::creation) ||
            (contains(record.queued, LocalChange::creation) && record.mayAlreadyExist))
            inodes.insert(record.inode);
    }
    return inodes;
}

/// Beside the cache folder, never inside: the cache removes at start-up
/// every file it holds no record of, and these are the user's bytes.
std::filesystem::path workingCopiesBeside(const std::filesystem::path& cacheDirectory) {
    std::filesystem::path cache = cacheDirectory.lexically_normal();
    if (!cache.has_filename()) cache = cache.parent_path();
    return cache.parent_path() / (cache.filename().string() + ".changes");
}

/// The sink of the engine and the uploader: notices go to the kernel's
/// notifier, and the folders a change queued on its own go to the uploader,
/// which schedules only what it is told of.
///
/// Threads: mutex_ guards uploader_ and is held while the uploader is told
/// (a lookup in the replica, no wait), so that detach() returns once no
/// call into the uploader runs. Lock order: mutex_, then the uploader's.
class SchedulingSink final : public NoticeSink {
public:
    SchedulingSink(NoticeSink& kernel, Replica& replica) : kernel_(kernel), replica_(replica) {}

    void attach(ChangeUploader& uploader) {
        LockGuard lock(mutex_);
        uploader_ = &uploader;
    }
    void detach() {
        LockGuard lock(mutex_);
        uploader_ = nullptr;
    }

    void post(std::vector<KernelNotice> notices) override {
        kernel_.post(std::move(notices));
        std::vector<Inode> requeued;
        try {
            requeued = replica_.takeRequeued();
        } catch (const std::exception&) {
            return;  // they go at the next start, which resumes the whole queue
        }
        LockGuard lock(mutex_);
        if (!uploader_) return;
        for (const Inode inode : requeued) uploader_->changed(inode);
    }

private:
    NoticeSink& kernel_;
    Replica& replica_;
    Mutex mutex_;
    ChangeUploader* uploader_ CADRIO_GUARDED_BY(mutex_) = nullptr;
};

}  // namespace

// Members in the order they are built; the destructor takes them down in
// the reverse order, the extension last (it may still answer, and every
// part that would take its answers is gone by then).
struct MountedDomain::Parts {
    Parts(fileprovider::Domain domain, Settings settings, Clock& clock)
        : domain(std::move(domain)), settings(std::move(settings)), clock(clock) {}

    ~Parts() {
        if (fetcher) fetcher->shutdown();
        fuse.reset();
        thumbnails.reset();
        // Before the engine: a creation's resend waits for the engine.
        if (sink) sink->detach();
        uploader.reset();
        engine.reset();
        fetcher.reset();
        notifier.reset();
        copies.reset();
        cache.reset();
        replica.reset();
        if (extension) extension->invalidate();
        extension.reset();
    }

    fileprovider::Domain domain;
    Settings settings;
    Clock& clock;
    fileprovider::ExtensionPtr extension;
    std::unique_ptr<Replica> replica;
    std::unique_ptr<ContentCache> cache;
    std::unique_ptr<WorkingCopies> copies;
    std::unique_ptr<KernelNotifier> notifier;
    std::unique_ptr<SchedulingSink> sink;
    std::unique_ptr<ContentFetcher> fetcher;
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<UploadObserver> uploadObserver;
    std::unique_ptr<ChangeUploader> uploader;
    std::unique_ptr<ThumbnailCache> thumbnailCache;
    std::unique_ptr<ThumbnailPrefetcher> thumbnails;
    std::unique_ptr<FuseFileSystem> fuse;

    /// Where the mount shows `inode`: the folder names up to the root.
    std::filesystem::path shownPath(Inode inode) const {
        std::vector<std::string> names;
        for (int depth = 0; inode != kFuseRootInode && depth < 4096; ++depth) {
            const std::optional<ReplicaEntry> entry = replica->entry(inode);
            if (!entry) break;
            names.push_back(entry->shownName);
            inode = entry->parentInode;
        }
        std::filesystem::path path = settings.mountPoint;
        for (auto name = names.rbegin(); name != names.rend(); ++name) path /= *name;
        return path;
    }

    void filesListed(Inode folder, std::vector<ReplicaEntry> files) {
        const std::filesystem::path folderPath = shownPath(folder);
        std::vector<ListedFile> listed;
        listed.reserve(files.size());
        for (ReplicaEntry& file : files) {
            // Made here and not yet on the drive: the plug-in has no preview
            // of it and must never see its provisional identifier.
            if (isProvisional(file.identifier)) continue;
            std::filesystem::path path = folderPath / file.shownName;
            listed.push_back(ListedFile{std::move(file), std::move(path)});
        }
        thumbnails->folderListed(std::move(listed));
    }
};

/// Refusals go to the log and to the settings' callback.
class UploadReporter final : public UploadObserver {
public:
    UploadReporter(std::function<void(const std::string&, const fileprovider::Error&)> refused,
                    std::function<void(std::size_t)> pendingChanged)
        : refused_(std::move(refused)), pendingChanged_(std::move(pendingChanged)) {}

    void refused(const std::string& path, const fileprovider::Error& error) override {
        hostLogger().notice("Modification refusée par le drive : {} ({} {}) {}", path, error.domain,
                         std::to_string(error.code), error.description);
        if (refused_) refused_(path, error);
    }
    void pendingChanged(std::size_t count) override {
        if (pendingChanged_) pendingChanged_(count);
    }

private:
    std::function<void(const std::string&, const fileprovider::Error&)> refused_;
    std::function<void(std::size_t)> pendingChanged_;
};

MountedDomain::MountedDomain(fileprovider::Domain domain, ExtensionFactory factory, Settings settings, Clock& clock)
    : parts_(std::make_unique<Parts>(std::move(domain), std::move(settings), clock)) {
    Parts& p = *parts_;
    p.replica = Replica::open(p.settings.replicaFile);
    p.cache = std::make_unique<ContentCache>(p.settings.cacheDirectory, *p.replica, clock, p.settings.cacheLimitBytes);
    p.extension = factory(fileprovider::HostContext{p.cache->temporaryDirectory()});
    if (!p.extension) throw std::runtime_error("the plug-in made no extension for " + p.domain.identifier);
    p.copies = std::make_unique<WorkingCopies>(workingCopiesBeside(p.settings.cacheDirectory));
    p.copies->recover(creationsThatMayHaveLanded(*p.replica));
    p.notifier = std::make_unique<KernelNotifier>();
    p.fetcher = std::make_unique<ContentFetcher>(p.extension, *p.replica, *p.cache, *p.notifier, clock,
                                                 p.settings.stuckFetchTimeout);
    p.sink = std::make_unique<SchedulingSink>(*p.notifier, *p.replica);
    p.engine = std::make_unique<SyncEngine>(p.extension, *p.replica, *p.sink, clock);
    p.uploadObserver = std::make_unique<UploadReporter>(p.settings.refused, p.settings.pendingChanged);
    ChangeUploader::Options uploads;
    uploads.settleDelay = p.settings.settleDelay;
    p.uploader = std::make_unique<ChangeUploader>(p.extension, *p.replica, *p.copies, *p.cache, *p.engine,
                                                  *p.sink, *p.uploadObserver, clock, uploads);
    p.sink->attach(*p.uploader);
    p.thumbnailCache =
        std::make_unique<ThumbnailCache>(p.settings.thumbnailRoot.value_or(ThumbnailCache::defaultRoot()));
    p.thumbnails = std::make_unique<ThumbnailPrefetcher>(p.extension, *p.thumbnailCache, clock);
    FuseFileSystem::Options options;
    options.filesListed = [&p](Inode folder, std::vector<ReplicaEntry> files) {
        p.filesListed(folder, std::move(files));
    };
    ChangeUploader* uploader = p.uploader.get();
    options.changed = [uploader](Inode inode) { uploader->changed(inode); };
    options.cacheDirectory = p.settings.cacheDirectory;
    options.metadataTimeout = p.settings.metadataTimeout;
    p.fuse = std::make_unique<FuseFileSystem>(p.settings.mountPoint, *p.replica, *p.cache, *p.copies, *p.engine,
                                              *p.fetcher, *p.notifier, clock, options);
    p.engine->start();
    // What a previous run left being sent goes again, under the same
    // preconditions.
    p.uploader->start(p.replica->resumeSending(clock.wallNow(), uploads.landingGrace));
}

MountedDomain::~MountedDomain() = default;

const fileprovider::Domain& MountedDomain::domain() const { return parts_->domain; }

const std::filesystem::path& MountedDomain::mountPoint() const { return parts_->settings.mountPoint; }

std::filesystem::path MountedDomain::temporaryDirectory() const { return parts_->cache->temporaryDirectory(); }

void MountedDomain::signalWorkingSet() { parts_->engine->signal(); }

void MountedDomain::whenStable(std::function<void()> done) {
    // Stable once nothing is sent, enumerated or fetched and the kernel has
    // been told every change that brought: a listing right after sees the
    // news. The uploader goes first: its answers may signal the engine.
    KernelNotifier* notifier = parts_->notifier.get();
    ContentFetcher* fetcher = parts_->fetcher.get();
    SyncEngine* engine = parts_->engine.get();
    parts_->uploader->whenIdle([engine, notifier, fetcher, done = std::move(done)]() mutable {
        engine->whenIdle([notifier, fetcher, done = std::move(done)]() mutable {
            fetcher->whenIdle(
                [notifier, done = std::move(done)]() mutable { notifier->whenDelivered(std::move(done)); });
        });
    });
}

TransferProgress MountedDomain::downloadProgress() const { return parts_->fetcher->progress(); }

void MountedDomain::waitForThumbnails() { parts_->thumbnails->waitUntilIdle(); }

TransferProgress MountedDomain::uploadProgress() const { return parts_->uploader->progress(); }

std::size_t MountedDomain::pendingChangeCount() const { return parts_->replica->pendingCount(); }

void MountedDomain::setUploadsPaused(bool paused) {
    if (paused) {
        parts_->uploader->pause();
    } else {
        parts_->uploader->resume();
    }
}

}  // namespace cadrio::host
