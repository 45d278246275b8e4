#pragma once
// Instants as the drive model keeps them.
//
// The wire carries whole seconds since 1970-01-01 UTC; the summary file keeps
// seconds since 2001-01-01 UTC with a fraction. In memory an instant is a
// system_clock time point (nanoseconds since 1970), which covers the years
// 1678 to 2262; conversions from wire seconds saturate at those limits rather
// than overflow.

#include <chrono>
#include <cstdint>

namespace cadrio {

using Date = std::chrono::system_clock::time_point;

/// Seconds between 1970-01-01 and 2001-01-01 UTC.
inline constexpr std::int64_t kReferenceDateOffsetSeconds = 978307200;

/// The instant `seconds` after 1970-01-01 UTC, saturated to Date's range.
Date dateFromUnixSeconds(std::int64_t seconds);

/// The instant `seconds` (with fraction) after 1970-01-01 UTC, saturated;
/// a NaN gives the 1970 instant.
Date dateFromUnixSeconds(double seconds);

/// Seconds since 1970-01-01 UTC, with fraction.
double unixSeconds(Date date);

/// Whole seconds since 1970-01-01 UTC, fraction cut towards zero.
std::int64_t unixSecondsTruncated(Date date);

/// Seconds since 2001-01-01 UTC, with fraction (the summary file's form).
double referenceDateSeconds(Date date);
/// The instant `seconds` after 2001-01-01 UTC, saturated; a NaN gives that
/// reference instant.
Date dateFromReferenceSeconds(double seconds);

}  // namespace cadrio
