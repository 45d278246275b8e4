#include "core/model/json_decoding.hpp"

#include <cmath>
#include <limits>

namespace cadrio {
namespace {

using nlohmann::json;

// 2^63: the first double above the signed 64-bit range; -2^63 is its lowest value.
constexpr double kTwoToThe63 = 9223372036854775808.0;

bool fitsInt64(double integral) noexcept { return integral >= -kTwoToThe63 && integral < kTwoToThe63; }

std::string describe(const json& value) {
    switch (value.type()) {
        case json::value_t::null: return "null";
        case json::value_t::object: return "an object";
        case json::value_t::array: return "an array";
        case json::value_t::string: return "a string";
        case json::value_t::boolean: return value.get<bool>() ? "true" : "false";
        case json::value_t::binary:
        case json::value_t::discarded: return "an unreadable value";
        default: return value.dump();
    }
}

}  // namespace

std::string JsonPath::text() const {
    if (parent_ == nullptr) return {};
    std::string prefix = parent_->text();
    if (name_.empty()) return prefix + "[" + std::to_string(position_) + "]";
    if (!prefix.empty()) prefix += '.';
    prefix += name_;
    return prefix;
}

void JsonPath::fail(std::string_view problem) const {
    const std::string where = text();
    throw DriveError::decoding(where.empty() ? std::string(problem) : where + ": " + std::string(problem));
}

json parseJsonBody(std::string_view body) {
    try {
        return json::parse(body);
    } catch (const json::parse_error& error) {
        // nlohmann prefixes its texts with "[json.exception.parse_error.101] ".
        std::string_view text = error.what();
        if (const auto end = text.find("] "); text.starts_with("[json.") && end != std::string_view::npos) {
            text.remove_prefix(end + 2);
        }
        throw DriveError::decoding("not JSON: " + std::string(text));
    }
}

std::int64_t int64Value(const json& value, const JsonPath& path) {
    switch (value.type()) {
        case json::value_t::number_integer: return value.get<std::int64_t>();
        case json::value_t::number_unsigned: {
            const auto unsignedValue = value.get<std::uint64_t>();
            if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                path.fail(value.dump() + " is outside the 64-bit integer range");
            }
            return static_cast<std::int64_t>(unsignedValue);
        }
        case json::value_t::number_float: {
            const double number = value.get<double>();
            if (!std::isfinite(number) || std::trunc(number) != number) {
                path.fail(JsonObjectReader::mismatch("an integer", value));
            }
            if (!fitsInt64(number)) path.fail(value.dump() + " is outside the 64-bit integer range");
            return static_cast<std::int64_t>(number);
        }
        default: path.fail(JsonObjectReader::mismatch("an integer", value));
    }
}

double doubleValue(const json& value, const JsonPath& path) {
    if (!value.is_number()) path.fail(JsonObjectReader::mismatch("a number", value));
    return value.get<double>();
}

std::string stringValue(const json& value, const JsonPath& path) {
    if (!value.is_string()) path.fail(JsonObjectReader::mismatch("a string", value));
    return value.get<std::string>();
}

bool boolValue(const json& value, const JsonPath& path) {
    if (!value.is_boolean()) path.fail(JsonObjectReader::mismatch("a boolean", value));
    return value.get<bool>();
}

double byteCountValue(const json& value, const JsonPath& path) {
    const double number = doubleValue(value, path);
    if (!std::isfinite(number) || !fitsInt64(std::round(number))) {
        path.fail(value.dump() + " is not a representable byte count");
    }
    return number;
}

std::int64_t roundedByteCount(double value) noexcept {
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    if (rounded >= kTwoToThe63) return std::numeric_limits<std::int64_t>::max();
    if (rounded < -kTwoToThe63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

JsonObjectReader::JsonObjectReader(const json& value, const JsonPath& path) : object_(value), path_(path) {
    if (!value.is_object()) path.fail(mismatch("an object", value));
}

std::string JsonObjectReader::mismatch(std::string_view expected, const json& value) {
    return "expected " + std::string(expected) + ", got " + describe(value);
}

const json* JsonObjectReader::find(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end() || found->is_null()) return nullptr;
    return &*found;
}

const json& JsonObjectReader::required(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end()) path_.key(key).fail("required key is missing");
    if (found->is_null()) path_.key(key).fail("required value is null");
    return *found;
}

std::int64_t JsonObjectReader::requiredInt64(std::string_view key) const {
    return int64Value(required(key), path_.key(key));
}

std::optional<std::int64_t> JsonObjectReader::optionalInt64(std::string_view key) const {
    const json* value = find(key);
    if (value == nullptr) return std::nullopt;
    return int64Value(*value, path_.key(key));
}

double JsonObjectReader::requiredDouble(std::string_view key) const {
    return doubleValue(required(key), path_.key(key));
}

std::optional<double> JsonObjectReader::optionalDouble(std::string_view key) const {
    const json* value = find(key);
    if (value == nullptr) return std::nullopt;
    return doubleValue(*value, path_.key(key));
}

std::optional<double> JsonObjectReader::optionalByteCount(std::string_view key) const {
    const json* value = find(key);
    if (value == nullptr) return std::nullopt;
    return byteCountValue(*value, path_.key(key));
}

std::string JsonObjectReader::requiredString(std::string_view key) const {
    return stringValue(required(key), path_.key(key));
}

std::optional<std::string> JsonObjectReader::optionalString(std::string_view key) const {
    const json* value = find(key);
    if (value == nullptr) return std::nullopt;
    return stringValue(*value, path_.key(key));
}

std::optional<bool> JsonObjectReader::optionalBool(std::string_view key) const {
    const json* value = find(key);
    if (value == nullptr) return std::nullopt;
    return boolValue(*value, path_.key(key));
}

std::optional<std::vector<std::string>> JsonObjectReader::optionalStringArray(std::string_view key) const {
    const json* array = find(key);
    if (array == nullptr) return std::nullopt;
    const JsonPath arrayPath = path_.key(key);
    if (!array->is_array()) arrayPath.fail(mismatch("an array", *array));
    std::vector<std::string> strings;
    strings.reserve(array->size());
    std::size_t position = 0;
    for (const json& element : *array) strings.push_back(stringValue(element, arrayPath.index(position++)));
    return strings;
}

}  // namespace cadrio

