#include "platform/host/scratch_names.hpp"

#include <array>

namespace cadrio::host {
namespace {

struct Pattern {
    std::string_view prefix;
    std::string_view suffix;
};

// A name matches when it starts with `prefix` and ends with `suffix`, the
// two not overlapping.
constexpr std::array kPatterns{
    Pattern{"", ".swp"},    Pattern{"", ".swo"}, Pattern{"", ".swx"},
    Pattern{"", "~"},       Pattern{".#", ""},   Pattern{"#", "#"},
    Pattern{".goutputstream-", ""}, Pattern{"", ".kate-swp"}, Pattern{".~lock.", "#"},
};

bool matches(std::string_view name, const Pattern& pattern) {
    return name.size() >= pattern.prefix.size() + pattern.suffix.size() && name.starts_with(pattern.prefix) && name.ends_with(pattern.suffix);
}

}  // namespace

bool isScratchName(std::string_view name) {
    if (name == "4913") return true;
    for (const Pattern& pattern : kPatterns) {
        if (matches(name, pattern)) return true;
    }
    return false;
}

}  // namespace cadrio::host
