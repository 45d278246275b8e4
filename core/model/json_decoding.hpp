#pragma once
// Strict, typed reading of JSON responses: the one place where wire values
// are checked. Every failure is DriveError::decoding whose text names the key
// path and what was wrong, e.g. "files[3].id: expected an integer, got 1.5".
//
// Rules:
// - A required key that is missing or null fails; an optional key that is
//   missing or null is absent. Keys that are not asked for are ignored.
// - Integers are signed 64-bit. A JSON number is accepted when its value is
//   integral and fits: 12 and 12.0 (and 1.2e1) read as 12, as the platform
//   decoders do; 1.5, 9223372036854775808 and 1e30 fail. Strings and
//   booleans never read as numbers, nor numbers as strings or booleans.
// - Doubles accept any JSON number.
//
// The readers hold references into a parsed document and a path chain that
// live on the caller's stack; use them within the decoding call only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/model/drive_error.hpp"

namespace cadrio {

/// Where a value sits in a response, built as a chain on the stack and only
/// turned into text when an error is reported.
class JsonPath {
public:
    JsonPath() = default;  // the document itself
    JsonPath key(std::string_view name) const noexcept { return JsonPath(this, name, 0); }
    JsonPath index(std::size_t position) const noexcept { return JsonPath(this, {}, position); }

    /// "files[3].id"; empty for the document itself.
    std::string text() const;

    /// DriveError::decoding with "<path>: <problem>" (just the problem at the top).
    [[noreturn]] void fail(std::string_view problem) const;

private:
    JsonPath(const JsonPath* parent, std::string_view name, std::size_t position) noexcept
        : parent_(parent), name_(name), position_(position) {}

    const JsonPath* parent_ = nullptr;  // null only for the document itself
    std::string_view name_;             // empty for an array element
    std::size_t position_ = 0;
};

/// Parses a response body; DriveError::decoding when it is not JSON.
nlohmann::json parseJsonBody(std::string_view body);

/// Typed reading of one JSON value; each fails with the path on mismatch.
std::int64_t int64Value(const nlohmann::json& value, const JsonPath& path);
double doubleValue(const nlohmann::json& value, const JsonPath& path);
std::string stringValue(const nlohmann::json& value, const JsonPath& path);
bool boolValue(const nlohmann::json& value, const JsonPath& path);

/// A byte count carried as a JSON number: any number whose value, rounded
/// half away from zero, fits a signed 64-bit integer; returned unrounded.
double byteCountValue(const nlohmann::json& value, const JsonPath& path);

/// `value` rounded half away from zero; a value that cannot be represented
/// (NaN, infinite, out of range) saturates, NaN giving 0. Decoding has
/// already refused such values; this keeps hand-built records safe too.
std::int64_t roundedByteCount(double value) noexcept;

class JsonObjectReader {
public:
    /// Fails when `value` is not an object.
    JsonObjectReader(const nlohmann::json& value, const JsonPath& path);

    std::int64_t requiredInt64(std::string_view key) const;
    std::optional<std::int64_t> optionalInt64(std::string_view key) const;
    double requiredDouble(std::string_view key) const;
    std::optional<double> optionalDouble(std::string_view key) const;
    std::optional<double> optionalByteCount(std::string_view key) const;
    std::string requiredString(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;
    std::optional<bool> optionalBool(std::string_view key) const;
    std::optional<std::vector<std::string>> optionalStringArray(std::string_view key) const;

    /// The elements of an optional array of objects, each read by
    /// `decodeElement(const JsonObjectReader&)`, in order.
    template <class Element, class Decode>
    std::optional<std::vector<Element>> optionalObjectArray(std::string_view key, Decode decodeElement) const {
        const nlohmann::json* array = find(key);
        if (array == nullptr) return std::nullopt;
        return objectArray<Element>(*array, path_.key(key), decodeElement);
    }

    /// The value at `key` when present and not null.
    const nlohmann::json* find(std::string_view key) const;
    const JsonPath& path() const noexcept { return path_; }

    template <class Element, class Decode>
    static std::vector<Element> objectArray(const nlohmann::json& array, const JsonPath& path,
                                            Decode decodeElement) {
        if (!array.is_array()) path.fail(mismatch("an array", array));
        std::vector<Element> elements;
        elements.reserve(array.size());
        std::size_t position = 0;
        for (const nlohmann::json& element : array) {
            const JsonPath elementPath = path.index(position++);
            elements.push_back(decodeElement(JsonObjectReader(element, elementPath)));
        }
        return elements;
    }

    /// "expected <expected>, got <a short description of value>".
    static std::string mismatch(std::string_view expected, const nlohmann::json& value);

private:
    const nlohmann::json& required(std::string_view key) const;

    const nlohmann::json& object_;
    const JsonPath& path_;
};

/// Decodes a body whose top level is one object.
template <class T, class Decode>
T decodeJsonObject(std::string_view body, Decode decode) {
    const nlohmann::json document = parseJsonBody(body);
    const JsonPath root;
    return decode(JsonObjectReader(document, root));
}

/// Decodes a body whose top level is an array of objects.
template <class Element, class Decode>
std::vector<Element> decodeJsonObjectArray(std::string_view body, Decode decodeElement) {
    const nlohmann::json document = parseJsonBody(body);
    const JsonPath root;
    return JsonObjectReader::objectArray<Element>(document, root, decodeElement);
}

}  // namespace cadrio
