#include "platform/log/log_record.hpp"

#include <array>
#include <syslog.h>

namespace cadrio::log {
namespace {

struct LevelEntry {
    Level level;
    std::string_view name;
    int priority;
};

constexpr std::array<LevelEntry, 5> kLevels = {{
    {Level::debug, "debug", LOG_DEBUG},
    {Level::info, "info", LOG_INFO},
    {Level::notice, "notice", LOG_NOTICE},
    {Level::error, "error", LOG_ERR},
    {Level::fault, "fault", LOG_CRIT},
}};

// A value outside the enumeration (a bad cast) is treated as the most severe.
const LevelEntry& entry(Level level) {
    const auto index = static_cast<std::size_t>(level);
    return index < kLevels.size() ? kLevels[index] : kLevels.back();
}

}  // namespace

std::string_view levelName(Level level) { return entry(level).name; }

int syslogPriority(Level level) { return entry(level).priority; }

std::optional<Level> levelFromName(std::string_view name) {
    for (const LevelEntry& candidate : kLevels) {
        if (candidate.name == name) return candidate.level;
    }
    return std::nullopt;
}

}  // namespace cadrio::log
