#pragma once
// One enabled domain, shown as a folder: its extension, replica, content
// cache, working copies, sync engine, change uploader, kernel notifier and
// FUSE session, created together
// and torn down in the reverse order (the extension last but one, the
// plug-in library last, as the plug-in's release order asks).
//
// Threads: mount() and the destructor from one owning thread; every other
// member from any thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/support/clock.hpp"
#include "platform/fileprovider/domain.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/host_context.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/host/domain_mount.hpp"
#include "platform/host/transfer_progress.hpp"

namespace cadrio::host {

class MountedDomain final : public DomainMount {
public:
    using ExtensionFactory = std::function<fileprovider::ExtensionPtr(const fileprovider::HostContext&)>;

    struct Settings {
        std::filesystem::path mountPoint;
        std::filesystem::path replicaFile;
        std::filesystem::path cacheDirectory;
        std::int64_t cacheLimitBytes = 10LL << 30;
        /// A fetch that makes no progress for this long fails with EIO.
        std::chrono::milliseconds stuckFetchTimeout{std::chrono::minutes(10)};
        /// How long a metadata request may wait for the plug-in.
        std::chrono::milliseconds metadataTimeout{std::chrono::seconds(5)};
        /// The desktop's thumbnail cache; absent: $XDG_CACHE_HOME/thumbnails.
        std::optional<std::filesystem::path> thumbnailRoot;
        /// How long a closed file stays unchanged before it is sent.
        std::chrono::milliseconds settleDelay{500};
        /// Told of every change the drive refused for good (path relative to
        /// the mount point), from an upload thread; also logged. May be empty.
        std::function<void(const std::string& path, const fileprovider::Error&)> refused;
        /// Told the number of local changes left each time the drive
        /// answered one, from an upload thread. May be empty.
        std::function<void(std::size_t)> pendingChanged;
    };

    /// Creates the extension through `factory`, opens the replica and the
    /// cache, cleans a stale mount at the mount point, mounts and starts
    /// serving. Throws std::runtime_error with the reason when it cannot.
    MountedDomain(fileprovider::Domain domain, ExtensionFactory factory, Settings settings, Clock& clock);
    /// Unmounts, stops the engine and the loop, releases the extension.
    ~MountedDomain() override;
    MountedDomain(const MountedDomain&) = delete;
    MountedDomain& operator=(const MountedDomain&) = delete;

    const fileprovider::Domain& domain() const;

    const std::filesystem::path& mountPoint() const override;
    std::filesystem::path temporaryDirectory() const override;
    void signalWorkingSet() override;
    void whenStable(std::function<void()> done) override;
    TransferProgress downloadProgress() const override;
    TransferProgress uploadProgress() const override;

    /// Blocks until the previews asked for the folders listed so far are in
    /// the thumbnail cache (or known to be missing): for callers that look
    /// at the cache itself, such as tests and benchmarks.
    void waitForThumbnails();

    std::size_t pendingChangeCount() const override;
    void setUploadsPaused(bool paused) override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace cadrio::host
