#pragma once
// Calendar dates and times of an instant in a named time zone, read from the
// system's tz database (/usr/share/zoneinfo) without touching the process's
// TZ setting, so that any thread may ask about any zone at any time.

#include <string>
#include <string_view>

#include "core/model/date.hpp"

namespace cadrio {

/// Gregorian date and wall-clock time, to the second.
struct LocalDateTime {
    int year = 1970;
    int month = 1;   // 1...12
    int day = 1;     // 1...31
    int hour = 0;    // 0...23
    int minute = 0;  // 0...59
    int second = 0;  // 0...59

    bool operator==(const LocalDateTime&) const = default;
};

/// `date` in the IANA zone `timeZone` (such as "Europe/Paris"). A name the
/// tz database does not know, or a database that cannot be read, gives the
/// time in UTC: a stamp in the wrong zone is better than no stamp.
LocalDateTime localDateTime(Date date, std::string_view timeZone);

/// The IANA name of the zone the user's clock shows: the TZ environment
/// variable when it names a known zone (a leading ':' is allowed), else the
/// zone /etc/localtime points to, else "UTC". Never fails.
std::string currentTimeZoneName();

namespace detail {
/// currentTimeZoneName() with the TZ variable's value given (null: unset).
std::string currentTimeZoneName(const char* tzVariable);
}  // namespace detail

}  // namespace cadrio
