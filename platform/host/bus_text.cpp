#include "platform/host/bus_text.hpp"

#include <cstddef>
#include <cstdint>

namespace cadrio::host {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// Length of the well-formed sequence at `at` (0 when there is none), or
/// through `consumed` the length of its longest valid prefix, which is what
/// one replacement character stands for.
std::size_t sequenceLength(std::string_view text, std::size_t at, std::size_t& consumed) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    consumed = 1;
    if (lead == 0) return 0;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) return 0;
        const std::uint8_t next = byte(at + i);
        const bool fits = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!fits) return 0;
        consumed = i + 1;
    }
    return length;
}

}  // namespace

bool isBusString(std::string_view text) noexcept {
    std::size_t consumed = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at, consumed);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string toBusString(std::string_view text) {
    if (isBusString(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t consumed = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at, consumed);
        if (length == 0) {
            out += kReplacement;
            at += consumed;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace cadrio::host
