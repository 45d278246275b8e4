#include "core/model/unicode_whitespace.hpp"

#include <cstddef>

namespace cadrio {
namespace {

struct Decoded {
    char32_t codePoint = 0;
    std::size_t length = 0;  // 0: not a well-formed sequence
};

bool isContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

/// The code point at the start of `bytes`, shortest forms only.
Decoded decodeFirst(std::string_view bytes) noexcept {
    if (bytes.empty()) return {};
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return {};
    }
    if (bytes.size() < length) return {};
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isContinuation(byte)) return {};
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
    return {value, length};
}

/// Length of the white-space code point that ends `text`; 0 for none.
std::size_t trailingWhitespaceLength(std::string_view text) noexcept {
    for (std::size_t length = 1; length <= 4 && length <= text.size(); ++length) {
        const std::string_view tail = text.substr(text.size() - length);
        if (isContinuation(static_cast<unsigned char>(tail[0]))) continue;
        const Decoded decoded = decodeFirst(tail);
        return decoded.length == length && isUnicodeWhitespace(decoded.codePoint) ? length : 0;
    }
    return 0;
}

}  // namespace

bool isUnicodeWhitespace(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::string_view trimmedUnicodeWhitespace(std::string_view text) noexcept {
    for (Decoded first = decodeFirst(text); first.length != 0 && isUnicodeWhitespace(first.codePoint);
         first = decodeFirst(text)) {
        text.remove_prefix(first.length);
    }
    for (std::size_t last = trailingWhitespaceLength(text); last != 0;
         last = trailingWhitespaceLength(text)) {
        text.remove_suffix(last);
    }
    return text;
}

}  // namespace cadrio
