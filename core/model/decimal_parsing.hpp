#pragma once
// Strict decimal integers as they appear in identifiers and version tokens.

#include <cstdint>
#include <optional>
#include <string_view>

namespace cadrio {

/// An optional single "+" or "-", then one or more ASCII digits, nothing
/// else (no spaces, no grouping), within the signed 64-bit range. Independent
/// of the locale. Absent for any other text.
std::optional<std::int64_t> parseSignedDecimal(std::string_view text) noexcept;

}  // namespace cadrio
