#include "core/model/time_zone.hpp"

#include <date/date.h>
#include <date/tz.h>

#include <cstdlib>
#include <exception>

namespace cadrio {
namespace {

/// The zone of that name, or null when the name is unknown or the tz
/// database cannot be loaded (date reports both by throwing).
const date::time_zone* findZone(std::string_view name) {
    if (name.empty()) return nullptr;
    try {
        return date::locate_zone(name);
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

LocalDateTime localDateTime(Date date, std::string_view timeZone) {
    using std::chrono::seconds;
    const date::sys_seconds instant = date::floor<seconds>(date);
    date::local_seconds local{instant.time_since_epoch()};
    if (const date::time_zone* zone = findZone(timeZone)) {
        try {
            local = zone->to_local(instant);
        } catch (const std::exception&) {
            // A damaged zone file: keep UTC.
        }
    }
    const date::local_days day = date::floor<date::days>(local);
    const date::year_month_day ymd{day};
    const date::hh_mm_ss<seconds> time{local - day};
    return LocalDateTime{
        .year = static_cast<int>(ymd.year()),
        .month = static_cast<int>(static_cast<unsigned>(ymd.month())),
        .day = static_cast<int>(static_cast<unsigned>(ymd.day())),
        .hour = static_cast<int>(time.hours().count()),
        .minute = static_cast<int>(time.minutes().count()),
        .second = static_cast<int>(time.seconds().count()),
    };
}

std::string currentTimeZoneName() { return detail::currentTimeZoneName(std::getenv("TZ")); }

namespace detail {

std::string currentTimeZoneName(const char* tzVariable) {
    if (tzVariable != nullptr) {
        std::string_view name = tzVariable;
        if (!name.empty() && name.front() == ':') name.remove_prefix(1);
        if (const date::time_zone* zone = findZone(name)) return std::string(zone->name());
    }
    try {
        return std::string(date::current_zone()->name());
    } catch (const std::exception&) {
        return "UTC";
    }
}

}  // namespace detail
}  // namespace cadrio
