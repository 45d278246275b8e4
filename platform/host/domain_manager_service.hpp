#pragma once
// The domain manager on the session bus: D-Bus calls become DomainManager
// calls, DomainManager errors become named D-Bus errors. The bus name,
// object path, interface, methods, signals and error names are listed in
// docs/host-contract.md and in zelvano.cadrio.FileProviderHost.xml.
//
// Threads: sd-bus objects belong to the thread that runs run(). Deferred
// replies (WaitForStabilization) may be completed from any thread: the
// result is handed to the bus thread, which sends it. stop() and
// notifyDomainsChanged() may be called from any thread. On stop(), run()
// answers the deferred calls still pending as cancelled, then returns; the
// connection closes with it. Destroy the service after run() returned.

#include <memory>
#include <optional>
#include <string>

#include "platform/host/domain_manager.hpp"

namespace cadrio::host {

class DomainManagerService {
public:
    static constexpr const char* kBusName = "zelvano.cadrio.FileProviderHost";
    static constexpr const char* kObjectPath = "/zelvano/cadrio/FileProviderHost";
    static constexpr const char* kInterface = "zelvano.cadrio.FileProviderHost.DomainManager";

    /// Connects to the session bus (or to `busAddress`), exports the object
    /// and takes the bus name. Throws std::runtime_error when the bus cannot
    /// be reached or the name is owned by another process.
    explicit DomainManagerService(DomainManager& manager, std::optional<std::string> busAddress = std::nullopt);
    ~DomainManagerService();
    DomainManagerService(const DomainManagerService&) = delete;
    DomainManagerService& operator=(const DomainManagerService&) = delete;

    /// Serves calls until stop(); blocks the calling thread without polling.
    void run();
    void stop();
    /// Emits DomainsChanged.
    void notifyDomainsChanged();
    /// Emits ChangeRefused: the drive refused a change of `path` (relative
    /// to the domain's folder) for good; the local copy is kept.
    void notifyChangeRefused(const std::string& domain, const std::string& path, const fileprovider::Error& error);
    /// Emits PendingChangesChanged; counts posted close together give one
    /// signal with the newest.
    void notifyPendingChanges(const std::string& domain, std::uint64_t count);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace cadrio::host
