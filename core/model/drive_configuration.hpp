#pragma once
// The settings of the HTTP client. Both deliverables build their client from
// `DriveConfiguration::standard()`. A plain value; fields are public and
// writable (a caller that sets `maxAttempts` below 1 gets what it set; the
// client is expected to make at least one attempt anyway).

#include <chrono>
#include <string>
#include <utility>

#include "core/model/zelvano_cadrio.hpp"

namespace cadrio {

struct DriveConfiguration {
    static constexpr int kStandardMaxAttempts = 3;
    static constexpr std::chrono::nanoseconds kStandardRetryBaseDelay = std::chrono::milliseconds(400);
    static constexpr double kStandardRequestTimeout = 60.0;

    std::string apiBaseURL;          // base of every API request, absolute
    int maxAttempts = kStandardMaxAttempts;  // attempts of a retryable request
    std::chrono::nanoseconds retryBaseDelay = kStandardRetryBaseDelay;  // first back-off; doubles after
    double requestTimeout = kStandardRequestTimeout;  // seconds, per request

    /// Stores the arguments, except that `maxAttempts` below 1 is stored as 1.
    DriveConfiguration(std::string apiBaseURL, int maxAttempts, std::chrono::nanoseconds retryBaseDelay,
                       double requestTimeout)
        : apiBaseURL(std::move(apiBaseURL)),
          maxAttempts(maxAttempts < 1 ? 1 : maxAttempts),
          retryBaseDelay(retryBaseDelay),
          requestTimeout(requestTimeout) {}

    /// The build-time API base URL, 3 attempts, 400 ms, 60 s.
    static DriveConfiguration standard() {
        return {ZelvanoCadrio::defaultAPIBaseURL(), kStandardMaxAttempts, kStandardRetryBaseDelay,
                kStandardRequestTimeout};
    }

    bool operator==(const DriveConfiguration&) const = default;
};

}  // namespace cadrio
