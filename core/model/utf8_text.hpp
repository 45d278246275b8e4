#pragma once
// UTF-8 as every part of the system reads it. Well-formed means Unicode's
// table of well-formed byte sequences: shortest forms only, no surrogates,
// nothing above U+10FFFF. Lossy decoding keeps every well-formed sequence
// byte for byte and replaces each maximal invalid subpart by one U+FFFD, as
// the WHATWG Encoding standard's decoder does, so that the same bytes give
// the same text wherever they are read. Pure functions, safe from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace cadrio {

/// The UTF-8 encoding of U+FFFD REPLACEMENT CHARACTER.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

/// One step of a walk through UTF-8 bytes: a well-formed sequence and its
/// code point, or a maximal invalid subpart (read as U+FFFD).
struct Utf8Unit {
    char32_t codePoint = 0;
    std::size_t length = 0;  // bytes taken; at least 1 unless there were none
    bool valid = false;
};

/// The unit at the start of `bytes`; length 0 when `bytes` is empty.
Utf8Unit leadingUtf8Unit(std::string_view bytes) noexcept;

/// True when `bytes` is well-formed UTF-8 (NUL included).
bool isValidUtf8(std::string_view bytes) noexcept;

/// Appends `bytes` to `out` as valid UTF-8, replacing what does not decode.
void appendDecodedUTF8(std::string& out, std::string_view bytes);

/// `bytes` as valid UTF-8, replacing what does not decode.
std::string decodedUTF8(std::string_view bytes);

}  // namespace cadrio
