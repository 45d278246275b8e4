#pragma once
// A domain as the daemon holds it once mounted: what the domain manager asks
// of a mount. MountedDomain is the real one; tests of the manager give their
// own.
//
// Every member may be called from any thread.

#include <cstddef>
#include <filesystem>
#include <functional>

#include "platform/fileprovider/domain.hpp"
#include "platform/host/transfer_progress.hpp"

namespace cadrio::host {

class DomainMount {
public:
    virtual ~DomainMount() = default;

    virtual const std::filesystem::path& mountPoint() const = 0;
    virtual std::filesystem::path temporaryDirectory() const = 0;
    virtual void signalWorkingSet() = 0;
    /// Calls `done` once, from any thread, when no enumeration or transfer
    /// of the domain is in flight.
    virtual void whenStable(std::function<void()> done) = 0;
    virtual TransferProgress downloadProgress() const = 0;
    virtual TransferProgress uploadProgress() const = 0;
    /// Local changes not yet carried out on the drive.
    virtual std::size_t pendingChangeCount() const = 0;
    /// Paused: the sends in flight end or are cancelled (their changes stay
    /// queued) before this returns, and nothing new starts until resumed.
    virtual void setUploadsPaused(bool paused) = 0;
};

}  // namespace cadrio::host
