#pragma once
// The daemon's domain manager: the registry says which domains exist, and
// every enabled one is mounted while the plug-in is elected.
//
// User-visible roots: the first mounted domain gets the mount root
// (~/Cadrio unless given), any other "<mount root> (<identifier>)". Removing
// a domain unmounts it, then deletes its replica folder and its cache
// folder, and removes its root folder when it is left empty.
//
// Threads: every member may be called from any thread. changeMutex_
// serialises what changes the set of mounts (registry changes, mounting,
// unmounting) and is held while a mount is built or torn down, which may
// take a while; mutex_ guards the map of mounts and is only held to look
// at it, so listing, progress and signals never wait for a mount. Lock
// order: changeMutex_ before mutex_. Mount members are called with neither
// held; a mount is torn down only once no such call is running (leases).
// whenStable callbacks still pending when a domain is unmounted are
// answered with an error then, so that no waiter is left forever.

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/host/domain_manager.hpp"
#include "platform/host/domain_mount.hpp"
#include "platform/host/domain_registry.hpp"
#include "platform/host/host_directories.hpp"

namespace cadrio::host {

struct MountPaths {
    std::filesystem::path mountPoint;
    std::filesystem::path replicaFile;
    std::filesystem::path cacheDirectory;

    bool operator==(const MountPaths&) const = default;
};

class DomainHost final : public DomainManager {
public:
    /// Builds a mounted domain; throws with the reason when it cannot.
    using MountFactory = std::function<std::unique_ptr<DomainMount>(const fileprovider::Domain&, const MountPaths&)>;

    struct Settings {
        HostDirectories directories;
        /// The first domain's root; default: <home>/Cadrio.
        std::optional<std::filesystem::path> mountRoot;
    };

    /// `pluginElected` is asked before each mount, since the user may switch
    /// the plug-in off while the host runs. Nothing is mounted before
    /// mountEnabledDomains().
    DomainHost(DomainRegistry& registry, MountFactory factory, std::function<bool()> pluginElected,
               Settings settings);
    /// Unmounts whatever is still mounted.
    ~DomainHost() override;
    DomainHost(const DomainHost&) = delete;
    DomainHost& operator=(const DomainHost&) = delete;

    /// Mounts every enabled domain; one that fails is logged and left
    /// unmounted, the others are still tried.
    void mountEnabledDomains() CADRIO_EXCLUDES(changeMutex_, mutex_);
    void unmountAll() CADRIO_EXCLUDES(changeMutex_, mutex_);
    /// The plug-in was switched off or on while the host runs: its domains
    /// are unmounted (they stay registered) or mounted again.
    void followElection() CADRIO_EXCLUDES(changeMutex_, mutex_);
    /// Called (from the changing thread, no lock held) after a domain was
    /// added, removed or switched on or off.
    void setDomainsChangedHandler(std::function<void()> handler) CADRIO_EXCLUDES(mutex_);

    std::vector<fileprovider::Domain> domains() override;
    void add(const fileprovider::Domain& domain) override CADRIO_EXCLUDES(changeMutex_, mutex_);
    void remove(const std::string& identifier) override CADRIO_EXCLUDES(changeMutex_, mutex_);
    void setUserEnabled(const std::string& identifier, bool enabled) override CADRIO_EXCLUDES(changeMutex_, mutex_);
    void signalWorkingSet(const std::string& identifier) override CADRIO_EXCLUDES(mutex_);
    void waitForStabilization(const std::string& identifier,
                              std::function<void(std::optional<fileprovider::Error>)> done) override
        CADRIO_EXCLUDES(mutex_);
    std::filesystem::path userVisibleRoot(const std::string& identifier) override CADRIO_EXCLUDES(mutex_);
    /// The mount's; for a domain not mounted, where its mount will put it.
    std::filesystem::path temporaryDirectory(const std::string& identifier) override CADRIO_EXCLUDES(mutex_);
    TransferProgress uploadProgress() override CADRIO_EXCLUDES(mutex_);
    TransferProgress downloadProgress() override CADRIO_EXCLUDES(mutex_);
    DomainTransfers transfers(const std::string& identifier) override CADRIO_EXCLUDES(mutex_);
    /// The machine is about to sleep (true) or woke up (false): uploads of
    /// every mount pause before this returns; on waking they resume and
    /// every working set is signalled, since the drive moved on meanwhile.
    void prepareForSleep(bool sleeping) CADRIO_EXCLUDES(mutex_);

private:
    struct Entry;
    struct Waiter;
    class Lease;

    fileprovider::Domain knownDomain(const std::string& identifier) const;
    std::optional<Lease> lease(const std::string& identifier) CADRIO_EXCLUDES(mutex_);
    std::vector<Lease> leaseAll() CADRIO_EXCLUDES(mutex_);
    void release(Entry& entry) CADRIO_EXCLUDES(mutex_);
    std::filesystem::path rootFor(const std::string& identifier) CADRIO_EXCLUDES(mutex_);
    void mount(const fileprovider::Domain& domain) CADRIO_REQUIRES(changeMutex_) CADRIO_EXCLUDES(mutex_);
    /// The root folder of the mount taken down, if one was mounted.
    std::optional<std::filesystem::path> unmount(const std::string& identifier) CADRIO_REQUIRES(changeMutex_)
        CADRIO_EXCLUDES(mutex_);
    void deleteLocalData(const std::string& identifier, const std::optional<std::filesystem::path>& root);
    void notifyDomainsChanged() CADRIO_EXCLUDES(mutex_);
    TransferProgress sumOf(TransferProgress (DomainMount::*progress)() const) CADRIO_EXCLUDES(mutex_);

    DomainRegistry& registry_;
    const MountFactory factory_;
    const std::function<bool()> pluginElected_;
    const Settings settings_;

    Mutex changeMutex_ CADRIO_ACQUIRED_BEFORE(mutex_);
    Mutex mutex_;
    std::condition_variable_any released_;  // an entry's last lease ended
    std::map<std::string, std::shared_ptr<Entry>> mounts_ CADRIO_GUARDED_BY(mutex_);
    std::function<void()> domainsChanged_ CADRIO_GUARDED_BY(mutex_);
    /// A mount made while the machine goes to sleep starts paused.
    std::atomic<bool> sleeping_{false};
};

}  // namespace cadrio::host
