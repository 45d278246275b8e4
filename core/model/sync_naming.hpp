#pragma once
// Which local names never go to the drive, and how the copy kept after a
// conflict is named.

#include <string>
#include <string_view>

#include "core/model/date.hpp"

namespace cadrio::SyncNaming {

/// True for the scratch files that the desktop and document editors leave
/// next to documents: ".DS_Store", ".localized", "Icon\r", names beginning
/// with "._" or "~$", and ".~lock." names ending with "#". Exact,
/// case-sensitive comparisons.
bool isExcludedFromSync(std::string_view name);

/// The name of the copy that keeps the user's version after a conflict:
/// " (conflit Linux YYYY-MM-DD HHhMM)" inserted before the extension, the
/// stamp being `date` in the IANA zone `timeZone` (an unknown zone stamps in
/// UTC, see localDateTime). Callers pass currentTimeZoneName() for the
/// user's zone.
///
/// The extension is the text after the last "." unless that dot is the first
/// character (".bashrc" has none) or the last one ("notes." has none); a
/// name without extension gets the stamp appended. Never fails.
std::string conflictCopyName(std::string_view name, Date date, std::string_view timeZone);

}  // namespace cadrio::SyncNaming
