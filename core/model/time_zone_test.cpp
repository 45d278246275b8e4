#include "core/model/time_zone.hpp"

#include <gtest/gtest.h>

#include <date/tz.h>

#include <vector>

namespace cadrio {
namespace {

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
