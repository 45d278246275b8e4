#include "platform/host/domain_host.hpp"

#include <atomic>
#include <cerrno>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;
using fileprovider::Domain;
using fileprovider::Error;
using fileprovider::ErrorException;


Error notMounted(const std::string& identifier) {
    return Error::fileProvider(fileprovider::FileProviderErrorCode::cannotSynchronize,
                               "the domain " + identifier + " is not mounted");
}

/// The one place where failures of the registry and of mounts become the
/// manager's errors.
[[noreturn]] void rethrowAsError() {
    try {
        throw;
    } catch (const ErrorException&) {
        throw;
    } catch (...) {
        throw ErrorException(fileprovider::errorFromException(std::current_exception()));
    }
}

}  // namespace

struct DomainHost::Waiter {
    explicit Waiter(std::function<void(std::optional<Error>)> done) : done(std::move(done)) {}

    void answer(std::optional<Error> error) {
        if (fired.exchange(true)) return;
        auto callback = std::move(done);
        callback(std::move(error));
    }

    std::function<void(std::optional<Error>)> done;  // read only by the thread that set `fired`
    std::atomic<bool> fired{false};
};

struct DomainHost::Entry {
    explicit Entry(std::unique_ptr<DomainMount> mount) : mount(std::move(mount)) {}

    // Set at construction; reset by unmount() once no lease holds the entry.
    std::unique_ptr<DomainMount> mount;
    // Guarded by DomainHost::mutex_, which the analysis cannot name from here.
    int leases = 0;
    std::vector<std::shared_ptr<Waiter>> waiters;
};

class DomainHost::Lease {
public:
    Lease(DomainHost& host, std::shared_ptr<Entry> entry) : host_(&host), entry_(std::move(entry)) {}
    Lease(Lease&& other) noexcept : host_(other.host_), entry_(std::move(other.entry_)) {}
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
        if (entry_) host_->release(*entry_);
    }

    DomainMount* operator->() const { return entry_->mount.get(); }
    DomainMount& mount() const { return *entry_->mount; }
    Entry& entry() const { return *entry_; }

private:
    DomainHost* host_;
    std::shared_ptr<Entry> entry_;
};

DomainHost::DomainHost(DomainRegistry& registry, MountFactory factory, std::function<bool()> pluginElected,
                       Settings settings)
    : registry_(registry),
      factory_(std::move(factory)),
      pluginElected_(std::move(pluginElected)),
      settings_(std::move(settings)) {}

DomainHost::~DomainHost() { unmountAll(); }

void DomainHost::mountEnabledDomains() {
    LockGuard change(changeMutex_);
    for (const Domain& domain : registry_.domains()) {
        try {
            mount(domain);
        } catch (const std::exception& e) {
            hostLogger().error("Montage du domaine {} impossible : {}", domain.identifier, e.what());
        }
    }
}

void DomainHost::followElection() {
    if (pluginElected_()) return mountEnabledDomains();
    if (leaseAll().empty()) return;
    hostLogger().notice("Plug-in désactivé : ses domaines sont démontés");
    unmountAll();
}

void DomainHost::unmountAll() {
    LockGuard change(changeMutex_);
    std::vector<std::string> identifiers;
    {
        LockGuard lock(mutex_);
        for (const auto& [identifier, entry] : mounts_) identifiers.push_back(identifier);
    }
    for (const std::string& identifier : identifiers) unmount(identifier);
}

void DomainHost::setDomainsChangedHandler(std::function<void()> handler) {
    LockGuard lock(mutex_);
    domainsChanged_ = std::move(handler);
}

std::vector<Domain> DomainHost::domains() { return registry_.domains(); }

void DomainHost::add(const Domain& domain) {
    if (!isValidDomainIdentifier(domain.identifier)) {
        throw ErrorException(Error::posix(EINVAL, "a domain identifier must be one folder name"));
    }
    {
        LockGuard change(changeMutex_);
        try {
            mount(registry_.add(domain));
        } catch (...) {
            rethrowAsError();
        }
    }
    notifyDomainsChanged();
}

void DomainHost::remove(const std::string& identifier) {
    {
        LockGuard change(changeMutex_);
        knownDomain(identifier);
        const std::optional<fs::path> root = unmount(identifier);
        try {
            registry_.remove(identifier);
        } catch (...) {
            rethrowAsError();
        }
        deleteLocalData(identifier, root);
    }
    notifyDomainsChanged();
}

void DomainHost::setUserEnabled(const std::string& identifier, bool enabled) {
    {
        LockGuard change(changeMutex_);
        try {
            if (!registry_.setUserEnabled(identifier, enabled)) throw ErrorException(Error::noSuchItem());
            if (enabled) {
                mount(knownDomain(identifier));
            } else {
                unmount(identifier);
            }
        } catch (...) {
            rethrowAsError();
        }
    }
    notifyDomainsChanged();
}

void DomainHost::signalWorkingSet(const std::string& identifier) {
    knownDomain(identifier);
    // A domain not mounted catches up with its anchor when it is mounted.
    if (auto mounted = lease(identifier)) (*mounted)->signalWorkingSet();
}

void DomainHost::waitForStabilization(const std::string& identifier,
                                      std::function<void(std::optional<Error>)> done) {
    if (!registry_.find(identifier)) return done(Error::noSuchItem());
    std::optional<Lease> mounted = lease(identifier);
    if (!mounted) return done(notMounted(identifier));
    auto waiter = std::make_shared<Waiter>(std::move(done));
    {
        LockGuard lock(mutex_);
        auto& waiters = mounted->entry().waiters;
        std::erase_if(waiters, [](const std::shared_ptr<Waiter>& w) { return w->fired.load(); });
        waiters.push_back(waiter);
    }
    (*mounted)->whenStable([waiter] { waiter->answer(std::nullopt); });
}

fs::path DomainHost::userVisibleRoot(const std::string& identifier) {
    knownDomain(identifier);
    if (auto mounted = lease(identifier)) return (*mounted)->mountPoint();
    return rootFor(identifier);
}

fs::path DomainHost::temporaryDirectory(const std::string& identifier) {
    knownDomain(identifier);
    if (auto mounted = lease(identifier)) return (*mounted)->temporaryDirectory();
    return settings_.directories.cacheDirectory(identifier) / "tmp";
}

TransferProgress DomainHost::uploadProgress() { return sumOf(&DomainMount::uploadProgress); }

TransferProgress DomainHost::downloadProgress() { return sumOf(&DomainMount::downloadProgress); }

DomainTransfers DomainHost::transfers(const std::string& identifier) {
    knownDomain(identifier);
    std::optional<Lease> mounted = lease(identifier);
    if (!mounted) return {};
    return DomainTransfers{(*mounted)->uploadProgress(), (*mounted)->downloadProgress(),
                           (*mounted)->pendingChangeCount()};
}

void DomainHost::prepareForSleep(bool sleeping) {
    sleeping_.store(sleeping);
    for (Lease& mounted : leaseAll()) {
        mounted.mount().setUploadsPaused(sleeping);
        if (!sleeping) mounted.mount().signalWorkingSet();
    }
}

Domain DomainHost::knownDomain(const std::string& identifier) const {
    std::optional<Domain> domain = registry_.find(identifier);
    if (!domain) throw ErrorException(Error::noSuchItem());
    return *std::move(domain);
}

std::optional<DomainHost::Lease> DomainHost::lease(const std::string& identifier) {
    LockGuard lock(mutex_);
    const auto found = mounts_.find(identifier);
    if (found == mounts_.end()) return std::nullopt;
    ++found->second->leases;
    return Lease(*this, found->second);
}

std::vector<DomainHost::Lease> DomainHost::leaseAll() {
    LockGuard lock(mutex_);
    std::vector<Lease> leases;
    leases.reserve(mounts_.size());
    for (const auto& entry : mounts_) {
        ++entry.second->leases;
        leases.emplace_back(*this, entry.second);
    }
    return leases;
}

void DomainHost::release(Entry& entry) {
    LockGuard lock(mutex_);
    if (--entry.leases == 0) released_.notify_all();
}

fs::path DomainHost::rootFor(const std::string& identifier) {
    const fs::path base = settings_.mountRoot.value_or(settings_.directories.home / "Cadrio");
    for (Lease& other : leaseAll()) {
        if (other->mountPoint() == base) {
            fs::path suffixed = base;
            suffixed += " (" + identifier + ")";
            return suffixed;
        }
    }
    return base;
}

void DomainHost::mount(const Domain& domain) {
    if (!domain.userEnabled || lease(domain.identifier)) return;
    if (!pluginElected_()) {
        hostLogger().notice("Plug-in désactivé : le domaine {} reste démonté", domain.identifier);
        return;
    }
    const MountPaths paths{rootFor(domain.identifier), settings_.directories.replicaFile(domain.identifier),
                           settings_.directories.cacheDirectory(domain.identifier)};
    createPrivateDirectory(paths.replicaFile.parent_path());
    createPrivateDirectory(paths.cacheDirectory);
    auto entry = std::make_shared<Entry>(factory_(domain, paths));
    if (sleeping_.load()) entry->mount->setUploadsPaused(true);
    LockGuard lock(mutex_);
    mounts_.emplace(domain.identifier, std::move(entry));
    hostLogger().info("Domaine {} monté sur {}", domain.identifier, paths.mountPoint);
}

std::optional<fs::path> DomainHost::unmount(const std::string& identifier) {
    std::shared_ptr<Entry> entry;
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        UniqueLock lock(mutex_);
        const auto found = mounts_.find(identifier);
        if (found == mounts_.end()) return std::nullopt;
        entry = found->second;
        mounts_.erase(found);
        released_.wait(lock, [&] { return entry->leases == 0; });
        waiters.swap(entry->waiters);
    }
    fs::path root = entry->mount->mountPoint();
    entry->mount.reset();
    for (const auto& waiter : waiters) waiter->answer(notMounted(identifier));
    hostLogger().info("Domaine {} démonté", identifier);
    return root;
}

void DomainHost::deleteLocalData(const std::string& identifier, const std::optional<fs::path>& root) {
    for (const fs::path& folder :
         {settings_.directories.replicaFile(identifier).parent_path(), settings_.directories.cacheDirectory(identifier)}) {
        std::error_code error;
        fs::remove_all(folder, error);
        if (error) hostLogger().error("Suppression de {} impossible : {}", folder, error.message());
    }
    std::error_code ignored;  // a root the user filled stays
    if (root) fs::remove(*root, ignored);
}

void DomainHost::notifyDomainsChanged() {
    std::function<void()> handler;
    {
        LockGuard lock(mutex_);
        handler = domainsChanged_;
    }
    if (handler) handler();
}

TransferProgress DomainHost::sumOf(TransferProgress (DomainMount::*progress)() const) {
    TransferProgress sum;
    for (Lease& mounted : leaseAll()) {
        const TransferProgress one = (mounted.mount().*progress)();
        sum.totalBytes += one.totalBytes;
        sum.completedBytes += one.completedBytes;
        sum.finished = sum.finished && one.finished;
    }
    return sum;
}

}  // namespace cadrio::host
