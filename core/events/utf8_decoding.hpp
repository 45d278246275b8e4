#pragma once
// Lossy UTF-8 decoding for text that arrives from the network: every valid
// sequence is kept byte for byte and every maximal invalid subpart becomes
// one U+FFFD, as the WHATWG Encoding standard's decoder does. Pure function,
// safe from any thread.

#include <string>
#include <string_view>

namespace cadrio {

/// The UTF-8 encoding of U+FFFD REPLACEMENT CHARACTER.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

/// Appends `bytes` to `out` as valid UTF-8, replacing what does not decode.
void appendDecodedUTF8(std::string& out, std::string_view bytes);

/// `bytes` as valid UTF-8, replacing what does not decode.
std::string decodedUTF8(std::string_view bytes);

}  // namespace cadrio
