#include "core/model/sync_naming.hpp"

#include <array>
#include <cstdio>
#include <optional>

#include "core/model/time_zone.hpp"

namespace cadrio::SyncNaming {
namespace {

/// Position of the dot that starts the extension, if the name has one.
std::optional<std::size_t> extensionDot(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return std::nullopt;
    return dot;
}

std::string stamp(Date date, std::string_view timeZone) {
    const LocalDateTime local = localDateTime(date, timeZone);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02dh%02d", local.year, local.month, local.day,
                  local.hour, local.minute);
    return text.data();
}

}  // namespace

bool isExcludedFromSync(std::string_view name) {
    return name == ".DS_Store" || name == ".localized" || name == "Icon\r" || name.starts_with("._") ||
           (name.starts_with(".~lock.") && name.ends_with("#")) || name.starts_with("~$");
}

std::string conflictCopyName(std::string_view name, Date date, std::string_view timeZone) {
    const std::string marker = " (conflit Linux " + stamp(date, timeZone) + ")";
    const std::optional<std::size_t> dot = extensionDot(name);
    if (!dot) return std::string(name) + marker;
    return std::string(name.substr(0, *dot)) + marker + std::string(name.substr(*dot));
}

}  // namespace cadrio::SyncNaming
