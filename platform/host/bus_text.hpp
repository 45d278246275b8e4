#pragma once
// D-Bus strings must be valid UTF-8 without NUL; a string that is not makes
// sd-bus refuse the whole message, and the caller would wait for an answer
// that never comes. Texts from elsewhere (descriptions, names read back
// from disk) are therefore made valid before they go on the bus.

#include <string>
#include <string_view>

namespace cadrio::host {

/// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
/// code points above U+10FFFF) and holds no NUL.
bool isBusString(std::string_view text) noexcept;

/// `text` with each NUL and each maximal ill-formed subsequence replaced by
/// U+FFFD; a valid string is returned unchanged.
std::string toBusString(std::string_view text);

}  // namespace cadrio::host
