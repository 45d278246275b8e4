#include "core/model/unicode_lowercase.hpp"

#include <utf8proc.h>

#include "core/model/ascii_text.hpp"
#include "core/model/utf8_text.hpp"

namespace cadrio {
namespace {

// The one letter whose unconditional lower-case form is two code points;
// utf8proc_tolower knows only the one-to-one mappings.
constexpr char32_t kCapitalIWithDotAbove = 0x0130;
constexpr std::string_view kSmallIWithCombiningDot = "i\xCC\x87";

void appendLowercased(std::string& out, char32_t codePoint) {
    if (codePoint == kCapitalIWithDotAbove) {
        out += kSmallIWithCombiningDot;
        return;
    }
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t length =
        utf8proc_encode_char(utf8proc_tolower(static_cast<utf8proc_int32_t>(codePoint)), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

}  // namespace

std::string unicodeLowercased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            out += asciiLowercase(text[at++]);
            continue;
        }
        const Utf8Unit unit = leadingUtf8Unit(text.substr(at));
        if (unit.valid) {
            appendLowercased(out, unit.codePoint);
        } else {
            out.append(text.substr(at, unit.length));
        }
        at += unit.length;
    }
    return out;
}

}  // namespace cadrio
