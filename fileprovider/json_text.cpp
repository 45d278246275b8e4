#include "fileprovider/json_text.hpp"

#include <charconv>
#include <cmath>

#include "core/model/utf8_text.hpp"
#include "core/support/hexadecimal.hpp"

namespace cadrio {
namespace {

bool isPlain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

void appendEscapedControl(std::string& out, unsigned char c) {
    switch (c) {
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    out += "\\u00";
    const unsigned char byte[] = {c};
    appendHexadecimal(out, byte);
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
            const Utf8Unit unit = leadingUtf8Unit(text.substr(i));
            if (unit.valid) {
                i += unit.length;
                continue;
            }
            flushPlain();
            out += kReplacementCharacter;
            plainStart = i += unit.length;
            continue;
        }
        flushPlain();
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            appendEscapedControl(out, c);
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
