#include "platform/host/shown_names.hpp"

#include <cstdint>
#include <cstdio>

namespace cadrio::host {
namespace {

constexpr std::size_t kMaxTagBytes = 40;
// An extension longer than this is part of the stem: it is not worth keeping
// whole at the cost of the rest of the name.
constexpr std::size_t kMaxExtensionBytes = 32;

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

/// The longest prefix of `text` of at most `bytes` bytes that does not cut a
/// UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t cut = bytes;
    while (cut > 0 && isContinuationByte(text[cut])) --cut;
    return text.substr(0, cut);
}

std::string tagOf(std::string_view identifier) {
    std::string tag = safeName(identifier);
    if (tag.size() <= kMaxTagBytes) return tag;
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : identifier) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

/// Where the extension starts (its dot), or npos. A leading dot marks a
/// hidden name, not an extension.
std::size_t extensionStart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtensionBytes) {
        return std::string_view::npos;
    }
    return dot;
}

}  // namespace

std::string safeName(std::string_view name) {
    if (name.empty() || name == ".") return "_";
    if (name == "..") return "__";
    std::string safe(name);
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) c = '_';
    }
    return safe;
}

std::string shownName(std::string_view name, std::string_view identifier, unsigned candidate) {
    const std::string safe = safeName(name);
    if (candidate == 0 && safe.size() <= kMaxNameBytes) return safe;

    std::string tag = " (" + tagOf(identifier);
    if (candidate >= 2) tag += " " + std::to_string(candidate);
    tag += ")";

    const std::string_view whole(safe);
    const std::size_t dot = extensionStart(whole);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view() : whole.substr(dot);
    const std::string_view stem = whole.substr(0, whole.size() - extension.size());
    const std::size_t room = kMaxNameBytes - tag.size() - extension.size();
    std::string shown(utf8Prefix(stem, room));
    shown += tag;
    shown += extension;
    return shown;
}

}  // namespace cadrio::host
