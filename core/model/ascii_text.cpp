#include "core/model/ascii_text.hpp"

namespace cadrio {

std::string asciiLowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = asciiLowercase(c);
    return result;
}

std::string_view trimmedSpacesAndTabs(std::string_view text) noexcept {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace cadrio
