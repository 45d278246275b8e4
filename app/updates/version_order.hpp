#pragma once

// The order of version strings as release feeds write them ("0.9.12",
// "1.10", "2.0b3", "2.0-rc.1"). A version is cut into runs of digits and
// runs of letters; anything else only separates them. Runs are compared in
// turn: digits by their value (any length, leading zeros ignored), letters
// by their lower-case text, a number above letters. When one version runs
// out first, what the other has left decides: trailing zeros change
// nothing ("1.2" = "1.2.0"), a number makes it newer ("1.2.1" > "1.2"),
// letters mark a pre-release, which is older ("2.0b1" < "2.0").
//
// Pure functions: any thread.

#include <compare>
#include <string_view>

namespace cadrio::app {

std::strong_ordering compareVersions(std::string_view left, std::string_view right);

inline bool isNewerVersion(std::string_view candidate, std::string_view current) {
    return compareVersions(candidate, current) == std::strong_ordering::greater;
}

}  // namespace cadrio::app
