#pragma once
// Trimming of Unicode white space (the White_Space property: tabs and line
// ends, U+0020, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000) from UTF-8 text, for what users paste or type:
// a code copied from a web page often carries a no-break space. Pure
// functions.

#include <string_view>

namespace cadrio {

/// True for the code points listed above.
bool isUnicodeWhitespace(char32_t codePoint) noexcept;

/// `text` without the white-space code points at its start and end; the
/// inside is untouched. Bytes that are not well-formed UTF-8 are not white
/// space and end the trimming on their side.
std::string_view trimmedUnicodeWhitespace(std::string_view text) noexcept;

}  // namespace cadrio
