#pragma once
// Bytes written as hexadecimal digits: two per byte, high nibble first, no
// separator (digests, names derived from them, escapes). Header-only so that
// the platform layers can use it without linking the core. Pure functions.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace cadrio {

enum class HexDigits { lower, upper };

inline void appendHexadecimal(std::string& out, std::span<const unsigned char> bytes,
                              HexDigits digits = HexDigits::lower) {
    const char* alphabet = digits == HexDigits::lower ? "0123456789abcdef" : "0123456789ABCDEF";
    out.reserve(out.size() + 2 * bytes.size());
    for (const unsigned char byte : bytes) {
        out.push_back(alphabet[byte >> 4]);
        out.push_back(alphabet[byte & 0x0F]);
    }
}

inline void appendHexadecimal(std::string& out, std::string_view bytes, HexDigits digits = HexDigits::lower) {
    appendHexadecimal(out, std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()), digits);
}

inline std::string hexadecimal(std::span<const unsigned char> bytes, HexDigits digits = HexDigits::lower) {
    std::string text;
    appendHexadecimal(text, bytes, digits);
    return text;
}

inline std::string hexadecimal(std::string_view bytes, HexDigits digits = HexDigits::lower) {
    std::string text;
    appendHexadecimal(text, bytes, digits);
    return text;
}

}  // namespace cadrio
