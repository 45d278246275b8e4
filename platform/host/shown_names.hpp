#pragma once
// How a plug-in's name becomes one directory entry. Pure functions.
//
// safeName: "" -> "_", "." -> "_", ".." -> "__"; "/", NUL and the other
// control bytes (0x01-0x1F, 0x7F) -> "_"; everything else, invalid UTF-8
// included, is kept byte for byte (a Linux name is bytes).
//
// shownName: the candidate names of one item, tried in order until one is
// free among its siblings. Candidate 0 is the safe name itself; candidate
// k >= 1 puts a tag derived from the identifier before the extension:
// "Rapport (f:12).pdf", then "Rapport (f:12 2).pdf", ... A safe name over
// 255 bytes has no candidate 0: it is cut on a UTF-8 boundary so that the
// tagged name fits. The tag is the identifier made safe, or, when that is
// longer than 40 bytes, 16 hexadecimal digits of its FNV-1a hash: the same
// item always gets the same name.

#include <string>
#include <string_view>

namespace cadrio::host {

inline constexpr std::size_t kMaxNameBytes = 255;

std::string safeName(std::string_view name);

std::string shownName(std::string_view name, std::string_view identifier, unsigned candidate);

}  // namespace cadrio::host
