#pragma once
// Global upload and download progress, as the domain manager reports it:
// bytes of the transfers in flight, and whether they all finished.

#include <cstdint>

namespace cadrio::host {

struct TransferProgress {
    std::int64_t totalBytes = 0;
    std::int64_t completedBytes = 0;
    bool finished = true;

    bool operator==(const TransferProgress&) const = default;
};

/// One domain's transfers and the local changes it has not sent yet.
struct DomainTransfers {
    TransferProgress upload;
    TransferProgress download;
    std::uint64_t pendingChanges = 0;

    bool operator==(const DomainTransfers&) const = default;
};

}  // namespace cadrio::host
