#pragma once
// Request and answer helpers of the drive, storage and admin routes.
// Handlers throw ServiceError; `answer` turns it into the JSON error
// {"error": code, "message": text} with its status and, for conflicts, the
// "X-Drive-Conflict" header. Any other exception becomes a 500 and is
// written to stderr: a bad request never takes the server down.

#include "devserver/service_error.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace cadrio::devserver {

/// Largest JSON body the drive routes read (bulk lists of ids included).
inline constexpr std::size_t kMaxDriveJsonBody = 1024 * 1024;

void sendServiceError(httplib::Response& res, const ServiceError& error);

/// Runs `handler`, answering its ServiceError or unexpected exception.
void answer(httplib::Response& res, const std::function<void()>& handler);

/// Reads a streamed body to its end and forgets it.
void discardBody(const httplib::Request& req, const httplib::ContentReader& reader);

/// The body parsed as JSON (any value); 413 above kMaxDriveJsonBody, 400
/// when it does not parse.
nlohmann::json jsonBody(const httplib::Request& req);
/// The body as a JSON object; 400 for anything else.
nlohmann::json jsonObjectBody(const httplib::Request& req);

/// The integer of capture group `group` of the route's pattern; 400 when
/// it is not a signed 64-bit decimal.
std::int64_t pathInt(const httplib::Request& req, std::size_t group = 1);
/// A query parameter as an integer; absent when missing, 400 when invalid.
std::optional<std::int64_t> queryInt(const httplib::Request& req, const char* name);

}  // namespace cadrio::devserver
