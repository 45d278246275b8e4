#pragma once
// Locale-independent folding of protocol texts (header values, raw server
// values). Only ASCII letters change case; other bytes pass through. Texts
// that name an account or a domain use unicodeLowercased instead.

#include <string>
#include <string_view>

namespace cadrio {

constexpr char asciiLowercase(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string asciiLowercased(std::string_view text);

/// `text` without the spaces and tabs at both ends (line breaks stay).
std::string_view trimmedSpacesAndTabs(std::string_view text) noexcept;

/// Trimmed of spaces and tabs, then lower-cased: how tolerant server values
/// are compared.
inline std::string foldedServerValue(std::string_view text) {
    return asciiLowercased(trimmedSpacesAndTabs(text));
}

}  // namespace cadrio
