#pragma once
// Where the event stream connects: the event server's base URL (build-time,
// or CADRIO_PUSH_BASE_URL for development) and the stream URL built on it.

#include <string>
#include <string_view>

namespace cadrio {

/// CADRIO_PUSH_BASE_URL from the environment when set and not empty, else
/// the build-time event server URL. Throws std::invalid_argument when the
/// chosen URL is not https, or plain http to a host other than loopback:
/// the stream carries the access token.
std::string eventServerBaseURL();

/// `baseURL` with the path "api/v1/jmap/events/web" appended (one "/"
/// between) and the query "ping=" + `pingSeconds`. Throws
/// DriveError::transport("URL du flux invalide") when that is not an
/// absolute http(s) URL.
std::string eventStreamURL(std::string_view baseURL, int pingSeconds);

}  // namespace cadrio
