#pragma once
// What the host's domain manager does, whatever carries the calls: the bus
// service (domain_manager_service) translates D-Bus calls into these, and
// the daemon implements them over its registry and mounts.
//
// Errors are thrown as fileprovider::ErrorException ("no such item" for an
// unknown domain); the bus service turns them into named D-Bus errors.
// Every member may be called from any thread.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/host/transfer_progress.hpp"

namespace cadrio::host {

class DomainManager {
public:
    virtual ~DomainManager() = default;

    virtual std::vector<fileprovider::Domain> domains() = 0;
    /// Registers `domain` (an already registered one keeps its enabled flag
    /// and takes the new display name) and mounts it when enabled.
    virtual void add(const fileprovider::Domain& domain) = 0;
    /// Unmounts, then drops the replica and the cached contents.
    virtual void remove(const std::string& identifier) = 0;
    virtual void setUserEnabled(const std::string& identifier, bool enabled) = 0;
    virtual void signalWorkingSet(const std::string& identifier) = 0;
    /// Calls `done` once, from any thread, when no enumeration or transfer of
    /// the domain is in flight; with an error when the domain is unknown or
    /// not mounted.
    virtual void waitForStabilization(const std::string& identifier,
                                      std::function<void(std::optional<fileprovider::Error>)> done) = 0;
    virtual std::filesystem::path userVisibleRoot(const std::string& identifier) = 0;
    virtual std::filesystem::path temporaryDirectory(const std::string& identifier) = 0;
    virtual TransferProgress uploadProgress() = 0;
    virtual TransferProgress downloadProgress() = 0;
    /// One domain's; zeros for a domain registered but not mounted.
    virtual DomainTransfers transfers(const std::string& identifier) = 0;
};

}  // namespace cadrio::host
