#pragma once
// The JSON forms of folders and files as the drive API sends them, and the
// strict readers of request fields shared by the routes and the snapshot.

#include "devserver/drive_state.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cadrio::devserver {

nlohmann::json folderToWire(const FolderRecord& folder);
nlohmann::json fileToWire(const FileRecord& file);

/// The answer to a new file (single upload or multipart completion).
nlohmann::json uploadResponse(const FileRecord& file);
/// The answer to a content replacement.
nlohmann::json replaceResponse(const FileRecord& file);

/// The "file_miniatures_path" text: a JSON array of the keys; empty when
/// there are none.
std::string thumbnailPathText(const std::vector<std::string>& keys);

// Strict field readers: ServiceError 400 naming the key when the value is
// missing (required ones) or of the wrong type. Integers must be JSON
// integers (no fraction, no string) within the signed 64-bit range.
std::int64_t requireInt(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optionalInt(const nlohmann::json& object, const char* key);
std::string requireText(const nlohmann::json& object, const char* key);
std::optional<std::string> optionalText(const nlohmann::json& object, const char* key);
std::optional<bool> optionalBool(const nlohmann::json& object, const char* key);
/// A list of integers; absent or null gives an empty list.
std::vector<std::int64_t> intList(const nlohmann::json& object, const char* key);

/// A decimal signed 64-bit integer ("+"/"-" then digits only); absent
/// when the text is anything else.
std::optional<std::int64_t> parseInt64(const std::string& text);

}  // namespace cadrio::devserver
