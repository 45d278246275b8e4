#include "app/domain/pluginkit_output.hpp"

#include <string>

#include "core/model/utf8_text.hpp"

namespace cadrio::app {

std::optional<bool> extensionEnabledFromPluginkit(std::string_view output, std::string_view identifier) {
    const std::string text = decodedUTF8(output);
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.find(identifier) == std::string_view::npos) continue;
        const std::size_t first = line.find_first_not_of(" \t");
        return first == std::string_view::npos || line[first] != '-';
    }
    return std::nullopt;
}

}  // namespace cadrio::app
