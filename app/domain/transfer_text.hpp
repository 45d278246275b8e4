#pragma once

// The transfer indicator's text from the two progress readings of a domain.
// A reading is active when it is not finished, its total is above 0 and its
// completed share is below 1. The percent is the share times 100 rounded
// half away from zero: "Envoi 12 %, téléchargement 40 %", "Envoi en cours…
// 43 %", "Téléchargement en cours… 0 %", none when neither is active.

#include <cstdint>
#include <optional>
#include <string>

namespace cadrio::app {

struct TransferReading {
    std::int64_t totalBytes = 0;
    std::int64_t completedBytes = 0;
    bool finished = true;

    bool operator==(const TransferReading&) const = default;
    bool isActive() const;
    /// completedBytes / totalBytes; 0 without a positive total.
    double fraction() const;
};

std::optional<std::string> transferText(const TransferReading& upload, const TransferReading& download);

}  // namespace cadrio::app
