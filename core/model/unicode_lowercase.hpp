#pragma once
// Lower-casing of texts that name an account or a domain, for every letter
// of Unicode and independent of the locale, so that both programs derive the
// same key from an address however it was typed. Protocol texts (header
// values, MIME types) stay with asciiLowercased.

#include <string>
#include <string_view>

namespace cadrio {

/// `text` with each code point replaced by its default lower-case mapping
/// (Unicode's, without language rules): "ÉLODIE" gives "élodie", "Ω" gives
/// "ω", "Straße" stays as it is, and "İ" becomes "i" followed by U+0307 as
/// the platform's own lower-casing gives it. Bytes that are not valid UTF-8
/// are kept unchanged, so that two different addresses never share a key.
/// Pure; safe from any thread.
std::string unicodeLowercased(std::string_view text);

}  // namespace cadrio
