#pragma once

// What the application model asks of the file-provider host about the
// account's domain: mount it (and no other), remove it, ask it to read the
// drive again, whether the user switched it or the plug-in off, where its
// folder is, and what it is transferring. The domain of an account is
// identified by the account's address, which is also its display name.
//
// Threads: every member blocks until the host answers and may be called
// from any thread but the model's executor (the model calls them from its
// background executor). Implementations are thread-safe.

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/support/clock.hpp"

namespace cadrio::app {

/// A failure of the host or of the bus; what() is the text shown to the
/// user (the host's own description when it gave one).
class DomainError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DomainControlling {
public:
    virtual ~DomainControlling() = default;

    /// A domain with this identifier is registered; false when the list
    /// cannot be read.
    virtual bool isMounted(const std::string& account) = 0;

    /// Removes every other registered domain, then adds the account's (also
    /// when it is registered already). Throws DomainError.
    virtual void mount(const std::string& account) = 0;

    /// Throws DomainError.
    virtual void unmount(const std::string& account) = 0;

    /// Asks the domain to read the drive's changes; with
    /// `waitForStabilization`, then waits until it settled or `timeout`
    /// passed on the clock. False (after a log line) on any failure or
    /// time-out.
    virtual bool signal(const std::string& account, bool waitForStabilization,
                        Clock::Duration timeout) = 0;

    /// The domain's user-enabled flag; none when it is not registered or the
    /// list cannot be read.
    virtual std::optional<bool> isUserEnabled(const std::string& account) = 0;

    /// The folder the user sees. Throws DomainError.
    virtual std::filesystem::path userVisibleRoot(const std::string& account) = 0;

    /// "Envoi en cours… 43 %" and the like; none when idle or unknown.
    virtual std::optional<std::string> transferLabel(const std::string& account) = 0;

    /// Whether the plug-in is elected (cadrio-pluginkit); none when that
    /// cannot be told. Starts a process.
    virtual std::optional<bool> extensionEnabled() = 0;

    /// The settings window's two switches: the domain's user-enabled flag
    /// (the host's SetUserEnabled) and the plug-in's election
    /// (cadrio-pluginkit -e use|ignore). Throw DomainError.
    virtual void setUserEnabled(const std::string& account, bool enabled) = 0;
    virtual void setExtensionEnabled(bool enabled) = 0;

    /// A local change the drive refused for good (the host's ChangeRefused
    /// signal): the domain, the path in its folder and the reason shown to
    /// the user.
    struct RefusedChange {
        std::string account;
        std::string path;
        std::string reason;
    };
    /// Calls `handler` on a thread of the controller's own for every refusal
    /// from now on; a later call replaces the handler, an empty one removes it.
    virtual void onChangeRefused(std::function<void(const RefusedChange&)> handler) = 0;
};

}  // namespace cadrio::app
