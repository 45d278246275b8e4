#pragma once
// Content version tokens: a short text naming one version of a file's
// content. The host compares them to tell whether content changed, and a
// replacement turns the token the client last saw back into the precondition
// that guards against overwriting a change made elsewhere.
//
//   "u:" uploadTimestamp ":" size   when the file has an upload timestamp
//   "h:" contentHash                 else when it has a content hash
//   "m:" size ":" seconds            else (modification time, whole seconds)

#include <string>
#include <string_view>

#include "core/model/drive_records.hpp"
#include "core/model/replace_precondition.hpp"

namespace cadrio::ContentVersion {

/// The token of the file's current content. Never fails.
std::string token(const DriveFile& file);

/// The precondition for replacing content last seen as `token`: the upload
/// time for the upload form, the hash for the hash form, none otherwise
/// (metadata form, unknown or malformed text). Never fails.
ReplacePrecondition precondition(std::string_view token);

}  // namespace cadrio::ContentVersion
