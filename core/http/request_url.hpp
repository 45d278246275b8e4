#pragma once
// Joining API paths to the base URL, and the rule on plain-http bases.

#include <string>
#include <string_view>

#include "core/http/http_message.hpp"

namespace cadrio {

/// The base URL's text, a "/" when `path` does not start with one, then the
/// path (query included) as it stands. No other normalisation: a base ending
/// in "/" gives a double slash. Throws DriveError::transport("URL invalide : "
/// + path) when the result is not a valid absolute http(s) URL.
std::string joinAPIURL(std::string_view baseURL, std::string_view path);

/// True for http(s) URLs whose host is loopback: "localhost", 127.0.0.0/8 or ::1.
bool hasLoopbackHost(std::string_view url);

/// Whether `policy` lets a redirection lead to `url`: https always (unless
/// `never`), plain http only to loopback under httpsOrLoopback.
bool redirectAllowed(RedirectPolicy policy, std::string_view url);

/// The policy of downloads from the presigned storage URLs that the API at
/// `apiBaseURL` hands out: httpsOrLoopback for a development server on
/// loopback, httpsOnly otherwise.
RedirectPolicy storageDownloadRedirects(std::string_view apiBaseURL);

/// Accepts https URLs, and http URLs whose host is loopback; throws
/// std::invalid_argument naming `what` for anything else, so a plain-http
/// address can never leak credentials off the machine.
void requireSecureBaseURL(std::string_view url, std::string_view what);

}  // namespace cadrio
