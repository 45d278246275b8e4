#include "core/model/date.hpp"

#include <cmath>
#include <cstdlib>

namespace cadrio {
namespace {

using Nanoseconds = std::chrono::nanoseconds;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// Beyond this many seconds every instant saturates anyway (Date spans about
// 9.2e9 seconds each way); keeping the whole part below it lets it convert to
// an integer without overflow.
constexpr double kSaturationSeconds = 1e12;

Date saturatedDate(std::int64_t seconds, std::int64_t nanos) {
    std::int64_t total = 0;
    if (__builtin_mul_overflow(seconds, kNanosPerSecond, &total) ||
        __builtin_add_overflow(total, nanos, &total)) {
        return seconds < 0 ? Date::min() : Date::max();
    }
    return Date(std::chrono::duration_cast<Date::duration>(Nanoseconds(total)));
}

// `seconds` after the instant `offsetSeconds` after 1970, rounded to the
// nearest nanosecond; NaN counts as 0.
Date dateFromSeconds(double seconds, std::int64_t offsetSeconds) {
    if (std::isnan(seconds)) seconds = 0;
    const double whole = std::trunc(seconds);
    if (whole > kSaturationSeconds) return Date::max();
    if (whole < -kSaturationSeconds) return Date::min();
    const auto nanos = static_cast<std::int64_t>(std::llround((seconds - whole) * 1e9));
    return saturatedDate(static_cast<std::int64_t>(whole) + offsetSeconds, nanos);
}

// Seconds since the instant `offsetSeconds` after 1970, with fraction; the
// whole and fractional parts are converted apart to keep nanosecond detail.
double secondsSince(Date date, std::int64_t offsetSeconds) {
    const auto nanos = std::chrono::duration_cast<Nanoseconds>(date.time_since_epoch()).count();
    const std::int64_t whole = nanos / kNanosPerSecond - offsetSeconds;
    const std::int64_t remainder = nanos % kNanosPerSecond;
    return static_cast<double>(whole) + static_cast<double>(remainder) / 1e9;
}

}  // namespace

Date dateFromUnixSeconds(std::int64_t seconds) { return saturatedDate(seconds, 0); }

Date dateFromUnixSeconds(double seconds) { return dateFromSeconds(seconds, 0); }

double unixSeconds(Date date) { return secondsSince(date, 0); }

std::int64_t unixSecondsTruncated(Date date) {
    const auto nanos = std::chrono::duration_cast<Nanoseconds>(date.time_since_epoch()).count();
    return nanos / kNanosPerSecond;
}

double referenceDateSeconds(Date date) { return secondsSince(date, kReferenceDateOffsetSeconds); }

Date dateFromReferenceSeconds(double seconds) { return dateFromSeconds(seconds, kReferenceDateOffsetSeconds); }

}  // namespace cadrio
