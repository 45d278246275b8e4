#pragma once
// JSON bodies and JSON error answers of the sign-in, admin and event routes.
// Errors are {"error": code, "message": text}; the code is stable for tests,
// the text is for people.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cadrio::devserver {

/// Largest JSON body the sign-in and admin routes read.
inline constexpr std::size_t kMaxJsonBody = 64 * 1024;

void sendJson(httplib::Response& res, int status, const nlohmann::json& body);
void sendError(httplib::Response& res, int status, std::string_view code, std::string_view message);

/// The request body as a JSON object. An empty body reads as {} when
/// `emptyIsObject`. Otherwise answers 413 (too large) or 400 (not a JSON
/// object) on `res` and returns nothing.
std::optional<nlohmann::json> readJsonObject(const httplib::Request& req, httplib::Response& res,
                                             bool emptyIsObject = false);

/// The string at `key`, absent when missing or not a string.
std::optional<std::string> stringField(const nlohmann::json& body, const char* key);

/// Like stringField, but answers 400 "missing_field" on `res` when absent.
std::optional<std::string> requireString(const nlohmann::json& body, const char* key,
                                         httplib::Response& res);

}  // namespace cadrio::devserver
