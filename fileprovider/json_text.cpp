#include "fileprovider/json_text.hpp"

#include <charconv>
#include <cmath>

namespace cadrio {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isPlain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

/// The length of the well-formed UTF-8 sequence at the start of `text`
/// (Unicode's table of well-formed byte sequences: no overlong forms, no
/// surrogates, nothing past U+10FFFF); 0 when it is not one.
std::size_t validSequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return text.size() >= 2 && isContinuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (text.size() < 3 || !isContinuation(byte(1)) || !isContinuation(byte(2))) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;  // overlong
        if (lead == 0xED && byte(1) > 0x9F) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (text.size() < 4 || !isContinuation(byte(1)) || !isContinuation(byte(2)) || !isContinuation(byte(3))) {
            return 0;
        }
        if (lead == 0xF0 && byte(1) < 0x90) return 0;  // overlong
        if (lead == 0xF4 && byte(1) > 0x8F) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

void appendEscapedControl(std::string& out, unsigned char c) {
    switch (c) {
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

void appendJSONString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t plainStart = 0;
    std::size_t i = 0;
    const auto flushPlain = [&] { out.append(text.substr(plainStart, i - plainStart)); };
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isPlain(c)) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t length = validSequenceLength(text.substr(i)); length > 0) {
                i += length;
                continue;
            }
            flushPlain();
            out += kReplacementCharacter;
        } else {
            flushPlain();
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else {
                appendEscapedControl(out, c);
            }
        }
        plainStart = ++i;
    }
    flushPlain();
    out += '"';
}

void appendJSONInteger(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendJSONDouble(std::string& out, double value) {
    if (!std::isfinite(value)) value = 0;
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace cadrio
