#include "core/model/json_decoding.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace cadrio {
namespace {

// 2^63: the first double above the signed 64-bit range; -2^63 is its lowest value.
constexpr double kTwoToThe63 = 9223372036854775808.0;

bool fitsInt64(double integral) noexcept { return integral >= -kTwoToThe63 && integral < kTwoToThe63; }

bool isNumber(const JsonScalar& value) noexcept {
    return value.type == JsonScalar::Type::integer || value.type == JsonScalar::Type::unsignedInteger ||
           value.type == JsonScalar::Type::floating;
}

[[noreturn]] void failMismatch(const JsonLocation& path, std::string_view expected, const JsonScalar& value) {
    failDecoding(path, "expected " + std::string(expected) + ", got " + value.description());
}

}  // namespace

std::string JsonScalar::description() const {
    switch (type) {
        case Type::null: return "null";
        case Type::boolean: return boolean ? "true" : "false";
        case Type::integer: return std::to_string(integer);
        case Type::unsignedInteger: return std::to_string(unsignedInteger);
        case Type::floating: {
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, floating);
            return std::string(buffer, result.ptr);
        }
        case Type::string: break;
    }
    return "a string";
}

void failDecoding(const JsonLocation& path, std::string_view problem) {
    const std::string where = path.text();
    throw DriveError::decoding(where.empty() ? std::string(problem) : where + ": " + std::string(problem));
}

std::int64_t int64Value(const JsonScalar& value, const JsonLocation& path) {
    switch (value.type) {
        case JsonScalar::Type::integer: return value.integer;
        case JsonScalar::Type::unsignedInteger:
            if (value.unsignedInteger > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                failDecoding(path, value.description() + " is outside the 64-bit integer range");
            }
            return static_cast<std::int64_t>(value.unsignedInteger);
        case JsonScalar::Type::floating:
            if (!std::isfinite(value.floating) || std::trunc(value.floating) != value.floating) {
                failMismatch(path, "an integer", value);
            }
            if (!fitsInt64(value.floating)) {
                failDecoding(path, value.description() + " is outside the 64-bit integer range");
            }
            return static_cast<std::int64_t>(value.floating);
        default: failMismatch(path, "an integer", value);
    }
}

double doubleValue(const JsonScalar& value, const JsonLocation& path) {
    if (!isNumber(value)) failMismatch(path, "a number", value);
    double number = value.floating;
    if (value.type == JsonScalar::Type::integer) number = static_cast<double>(value.integer);
    if (value.type == JsonScalar::Type::unsignedInteger) number = static_cast<double>(value.unsignedInteger);
    if (!std::isfinite(number)) failDecoding(path, "the number is outside the range of a double");
    return number;
}

std::string stringValue(const JsonScalar& value, const JsonLocation& path) {
    if (value.type != JsonScalar::Type::string) failMismatch(path, "a string", value);
    return std::string(value.text);
}

bool boolValue(const JsonScalar& value, const JsonLocation& path) {
    if (value.type != JsonScalar::Type::boolean) failMismatch(path, "a boolean", value);
    return value.boolean;
}

double byteCountValue(const JsonScalar& value, const JsonLocation& path) {
    const double number = doubleValue(value, path);
    if (!fitsInt64(std::round(number))) failDecoding(path, value.description() + " is not a representable byte count");
    return number;
}

std::int64_t roundedByteCount(double value) noexcept {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    if (rounded >= kTwoToThe63) return std::numeric_limits<std::int64_t>::max();
    if (rounded < -kTwoToThe63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

}  // namespace cadrio
