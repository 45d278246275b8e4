#include "core/model/time_zone.hpp"

#include <gtest/gtest.h>

#include <date/tz.h>

#include <vector>

namespace cadrio {
namespace {

TEST(TimeZone, LocalDateTimeIncludesSeconds) {
    const Date instant = Date(std::chrono::seconds(1709644079));  // 2024-03-05 13:07:59 UTC
    EXPECT_EQ(localDateTime(instant, "Europe/Paris"),
              (LocalDateTime{.year = 2024, .month = 3, .day = 5, .hour = 14, .minute = 7, .second = 59}));
}

TEST(TimeZone, CurrentZoneNamePrefersAKnownTZVariable) {
    std::string system = "UTC";
    try {
        system = date::current_zone()->name();
    } catch (const std::exception&) {
    }
    struct Case {
        const char* tz;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Europe/Paris", "Europe/Paris"},
        {":Asia/Tokyo", "Asia/Tokyo"},
        {"CET-1CEST", system},  // POSIX rules, not an IANA name
        {"", system},
        {nullptr, system},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tz ? c.tz : "(unset)");
        EXPECT_EQ(detail::currentTimeZoneName(c.tz), c.expected);
    }
}

}  // namespace
}  // namespace cadrio
