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

}  // namespace cadrio::host
