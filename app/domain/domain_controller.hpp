#pragma once

// The application's only contact with the file-provider host: the host's
// domain manager (zelvano.cadrio.FileProviderHost on the session bus, see
// docs/host-contract.md) and its plug-in registry command.
//
// The host not being on the bus is no failure of its own: before reporting
// one, a call starts it, by D-Bus activation when it is installed, else by
// spawning the daemon at `daemonPath` (detached: it outlives the
// application, as the mounts do), and waits for its bus name for at most
// `hostStartTimeout`.
//
// Logs (subsystem "zelvano.cadrio.sync", category "domain"): "Domaine monté
// pour %s", "Domaine retiré pour %s" (the address private), "Domaine
// introuvable, signal ignoré.", "Signal impossible : %s", "Actualisation :
// stabilisation non confirmée dans le délai.".
//
// Threads: every member may be called from any thread and blocks its caller
// until the host answers (each call bounded by a bus time-out). The bus
// connection belongs to one thread of the controller's own; callers hand it
// their calls and wait for the answer with no lock held. The
// implementation's `mutex` guards the account whose domain the transfer
// label last found registered. Destroy the controller once no call runs.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/domain/domain_controlling.hpp"
#include "core/support/clock.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::app {

struct DomainControllerOptions {
    /// The session bus unless given (tests: a private bus).
    std::optional<std::string> busAddress;
    /// cadrio-pluginkit: CADRIO_PLUGINKIT, else the installed one.
    std::filesystem::path pluginkitPath = defaultPluginkitPath();
    /// cadrio-fileproviderd, spawned when bus activation cannot start it:
    /// CADRIO_FILEPROVIDERD, else the installed one.
    std::filesystem::path daemonPath = defaultDaemonPath();
    Clock::Duration hostStartTimeout = std::chrono::seconds(10);

    static std::filesystem::path defaultPluginkitPath();
    static std::filesystem::path defaultDaemonPath();
};

class DomainController final : public DomainControlling {
public:
    /// The plug-in whose election extensionEnabled() reads.
    static constexpr const char* kExtensionIdentifier = "zelvano.cadrio.sync.fileprovider";

    /// Throws DomainError when no bus can be reached at all.
    DomainController(Clock& clock, log::Logger logger, DomainControllerOptions options = {});
    ~DomainController() override;
    DomainController(const DomainController&) = delete;
    DomainController& operator=(const DomainController&) = delete;

    bool isMounted(const std::string& account) override;
    void mount(const std::string& account) override;
    void unmount(const std::string& account) override;
    bool signal(const std::string& account, bool waitForStabilization, Clock::Duration timeout) override;
    std::optional<bool> isUserEnabled(const std::string& account) override;
    std::filesystem::path userVisibleRoot(const std::string& account) override;
    std::optional<std::string> transferLabel(const std::string& account) override;
    std::optional<bool> extensionEnabled() override;
    void setUserEnabled(const std::string& account, bool enabled) override;
    void setExtensionEnabled(bool enabled) override;
    void onChangeRefused(std::function<void(const RefusedChange&)> handler) override;

    /// The host's WaitForStabilization raced against `timeout` on the clock
    /// through a FirstOnly; false on time-out or error.
    bool waitForStabilization(const std::string& account, Clock::Duration timeout);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cadrio::app
