#include "core/model/utf8_text.hpp"

#include <cstdint>

namespace cadrio {
namespace {

constexpr char32_t kReplacementCodePoint = 0xFFFD;

struct LeadByte {
    int continuations = -1;     // -1: not a lead byte
    std::uint8_t lower = 0x80;  // allowed range of the first continuation byte,
    std::uint8_t upper = 0xBF;  // which rules out overlong forms and surrogates
};

// The lead byte of a multi-byte sequence; ASCII is handled before.
LeadByte classify(std::uint8_t byte) noexcept {
    if (byte >= 0xC2 && byte <= 0xDF) return {1};
    if (byte == 0xE0) return {2, 0xA0, 0xBF};
    if (byte == 0xED) return {2, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF) return {2};
    if (byte == 0xF0) return {3, 0x90, 0xBF};
    if (byte == 0xF4) return {3, 0x80, 0x8F};
    if (byte >= 0xF1 && byte <= 0xF3) return {3};
    return {};
}

bool isASCII(char c) noexcept { return static_cast<std::uint8_t>(c) <= 0x7F; }

}  // namespace

Utf8Unit leadingUtf8Unit(std::string_view bytes) noexcept {
    if (bytes.empty()) return {};
    const auto first = static_cast<std::uint8_t>(bytes[0]);
    if (first <= 0x7F) return {first, 1, true};
    const LeadByte lead = classify(first);
    if (lead.continuations < 0) return {kReplacementCodePoint, 1, false};
    char32_t value = first & (0x7Fu >> (lead.continuations + 1));
    for (int i = 1; i <= lead.continuations; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // A missing or out-of-range byte ends the subpart; it starts afresh.
        if (index >= bytes.size()) return {kReplacementCodePoint, index, false};
        const auto byte = static_cast<std::uint8_t>(bytes[index]);
        const std::uint8_t lower = i == 1 ? lead.lower : 0x80;
        const std::uint8_t upper = i == 1 ? lead.upper : 0xBF;
        if (byte < lower || byte > upper) return {kReplacementCodePoint, index, false};
        value = (value << 6) | (byte & 0x3Fu);
    }
    return {value, static_cast<std::size_t>(lead.continuations) + 1, true};
}

bool isValidUtf8(std::string_view bytes) noexcept {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (isASCII(bytes[at])) {
            ++at;
            continue;
        }
        const Utf8Unit unit = leadingUtf8Unit(bytes.substr(at));
        if (!unit.valid) return false;
        at += unit.length;
    }
    return true;
}

void appendDecodedUTF8(std::string& out, std::string_view bytes) {
    std::size_t validStart = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (isASCII(bytes[at])) {
            ++at;
            continue;
        }
        const Utf8Unit unit = leadingUtf8Unit(bytes.substr(at));
        if (!unit.valid) {
            out.append(bytes.substr(validStart, at - validStart));
            out.append(kReplacementCharacter);
            validStart = at + unit.length;
        }
        at += unit.length;
    }
    out.append(bytes.substr(validStart));
}

std::string decodedUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendDecodedUTF8(out, bytes);
    return out;
}

}  // namespace cadrio
