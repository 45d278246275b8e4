#include "fileprovider/display_name.hpp"

#include <cstdint>
#include <vector>

#include <utf8proc.h>

#include "core/model/utf8_text.hpp"

namespace cadrio {
namespace {

/// The code points of `text`, each maximal invalid subpart read as one
/// U+FFFD.
std::vector<std::int32_t> decodeLossily(std::string_view text) {
    std::vector<std::int32_t> codePoints;
    codePoints.reserve(text.size());
    while (!text.empty()) {
        const Utf8Unit unit = leadingUtf8Unit(text);
        codePoints.push_back(static_cast<std::int32_t>(unit.codePoint));  // U+FFFD when invalid
        text.remove_prefix(unit.length);
    }
    return codePoints;
}

/// The platform's white-space-and-newline set: the separator categories,
/// tab to carriage return, and NEXT LINE.
bool isWhiteSpaceOrNewline(std::int32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const utf8proc_category_t category = utf8proc_category(c);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

bool isControl(std::int32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

/// The bidirectional embeddings, overrides and isolates: they reorder what
/// follows them on screen, so "txt.exe" could show as "exe.txt".
bool isBidiControl(std::int32_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

std::string encode(const std::vector<std::int32_t>& codePoints, std::size_t begin, std::size_t end) {
    std::string out;
    out.reserve(end - begin);
    utf8proc_uint8_t buffer[4];
    for (std::size_t i = begin; i < end; ++i) {
        const std::int32_t c = codePoints[i];
        if (c == '/' || isControl(c) || isBidiControl(c)) {
            out += '_';
            continue;
        }
        const utf8proc_ssize_t length = utf8proc_encode_char(c, buffer);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
    }
    return out;
}

}  // namespace

std::string displayedName(std::string_view serverName) {
    const std::vector<std::int32_t> codePoints = decodeLossily(serverName);
    std::size_t begin = 0;
    std::size_t end = codePoints.size();
    // "/" becomes "_" before trimming, and "_" is never trimmed, so
    // trimming can look at the raw code points.
    while (begin < end && isWhiteSpaceOrNewline(codePoints[begin])) ++begin;
    while (end > begin && isWhiteSpaceOrNewline(codePoints[end - 1])) --end;
    std::string name = encode(codePoints, begin, end);
    if (name.empty()) return std::string(kUnnamedItemName);
    if (name == ".") return "_";
    if (name == "..") return "__";
    return name;
}

}  // namespace cadrio
