#include "core/model/json_decoding.hpp"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <limits>

#include "core/model/decimal_parsing.hpp"

namespace cadrio {
namespace {

// 2^63: the first double above the signed 64-bit range; -2^63 is its lowest value.
constexpr double kTwoToThe63 = 9223372036854775808.0;

bool fitsInt64(double integral) noexcept { return integral >= -kTwoToThe63 && integral < kTwoToThe63; }

bool isNumber(const JsonScalar& value) noexcept {
    return value.type == JsonScalar::Type::integer || value.type == JsonScalar::Type::unsignedInteger ||
           value.type == JsonScalar::Type::floating;
}

enum class LiteralKind { integral, fractional, outOfRange };

struct IntegerLiteral {
    LiteralKind kind;
    std::int64_t value = 0;
};

// Reads a JSON number literal (already checked by the parser) exactly: its
// double value may have rounded away a fraction or an excess, as with
// -9223372036854775809, whose nearest double is the lowest 64-bit value.
IntegerLiteral integerFromLiteral(std::string_view literal) {
    const bool negative = literal.starts_with('-');
    if (negative) literal.remove_prefix(1);
    std::string digits;
    std::size_t position = 0;
    while (position < literal.size() && literal[position] >= '0' && literal[position] <= '9') {
        digits += literal[position++];
    }
    long long point = static_cast<long long>(digits.size());  // where the decimal point falls in `digits`
    if (position < literal.size() && literal[position] == '.') {
        for (++position; position < literal.size() && literal[position] >= '0' && literal[position] <= '9';) {
            digits += literal[position++];
        }
    }
    if (position < literal.size()) {  // an exponent: e or E, optional sign, digits
        ++position;
        const bool negativeExponent = literal[position] == '-';
        if (literal[position] == '+' || literal[position] == '-') ++position;
        long long exponent = 0;
        for (; position < literal.size(); ++position) {
            // Any exponent beyond this bound already decides the outcome.
            exponent = std::min(exponent * 10 + (literal[position] - '0'), 1'000'000LL);
        }
        point += negativeExponent ? -exponent : exponent;
    }
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos) return {LiteralKind::integral, 0};
    point -= static_cast<long long>(firstSignificant);
    digits.erase(0, firstSignificant);
    const std::size_t lastSignificant = digits.find_last_not_of('0') + 1;
    if (point < static_cast<long long>(lastSignificant)) return {LiteralKind::fractional};
    if (point > 19) return {LiteralKind::outOfRange};  // more digits than any 64-bit value
    digits.resize(static_cast<std::size_t>(point), '0');
    const auto value = parseSignedDecimal((negative ? "-" : "") + digits);
    if (!value) return {LiteralKind::outOfRange};
    return {LiteralKind::integral, *value};
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
            if (!text.empty()) return std::string(text);
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
        case JsonScalar::Type::floating: {
            IntegerLiteral literal{LiteralKind::integral};
            if (!value.text.empty()) {
                literal = integerFromLiteral(value.text);
            } else if (!std::isfinite(value.floating) || std::trunc(value.floating) != value.floating) {
                literal.kind = LiteralKind::fractional;
            } else if (!fitsInt64(value.floating)) {
                literal.kind = LiteralKind::outOfRange;
            } else {
                literal.value = static_cast<std::int64_t>(value.floating);
            }
            if (literal.kind == LiteralKind::fractional) failMismatch(path, "an integer", value);
            if (literal.kind == LiteralKind::outOfRange) {
                failDecoding(path, value.description() + " is outside the 64-bit integer range");
            }
            return literal.value;
        }
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
