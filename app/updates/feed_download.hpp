#pragma once

// Fetching the appcast: one GET of the feed, its redirections followed to
// https only (plain http too when the feed itself is on loopback), the body
// read as it arrives and abandoned past a size limit.
//
// Blocking; any thread but the model's executor.

#include <cstddef>
#include <stop_token>
#include <string>

#include "core/http/http_transport.hpp"

namespace cadrio::app {

/// The feed's body. Throws AppcastError for an answer other than 2xx or a
/// body over `maxBytes`; the transport's errors (DriveError,
/// CancellationError) pass through.
std::string downloadFeed(HTTPTransport& transport, const std::string& url, std::size_t maxBytes,
                         std::stop_token stop);

}  // namespace cadrio::app
