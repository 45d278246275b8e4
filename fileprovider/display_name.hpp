#pragma once
// The name an item is shown under in the drive folder. A server name may
// hold anything the server accepted from other clients; the host needs one
// path component it can show, so the displayed name is cleaned while the
// record keeps the server's name (a rename sends what the user typed, never
// this cleaned form back).
//
// Rules, in order (documented for the host in docs/host-contract.md):
//   1. "/" becomes "_" (the path separator). ":" stays: it is an ordinary
//      character of a name here, and a name the user typed with one must
//      come back from the drive unchanged;
//   2. white space and line breaks are trimmed at both ends;
//   3. bytes that are not valid UTF-8 become U+FFFD, and the remaining
//      control characters (U+0000 to U+001F, U+007F, U+0080 to U+009F,
//      NUL included) become "_", and so do the bidirectional embedding,
//      override and isolate controls (U+202A to U+202E, U+2066 to U+2069),
//      so that a name cannot disguise its extension;
//   4. nothing left gives "sans nom"; "." gives "_" and ".." gives "__",
//      since those two names mean the folder itself and its parent.
//
// A pure function, safe from any thread.

#include <string>
#include <string_view>

namespace cadrio {

inline constexpr std::string_view kUnnamedItemName = "sans nom";

std::string displayedName(std::string_view serverName);

}  // namespace cadrio
