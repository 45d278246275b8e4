#pragma once
// Message texts with "{}" placeholders, checked at compile time against the
// number of values, and the values' text: public values appear as they are,
// private ones (account addresses, names) only as "<private>".
//
//   logger.info("Session restaurée pour {}", log::privateValue(email));
//   logger.error("Échec de l'envoi de {} : {}", itemID, error.what());
//
// "{{" and "}}" stand for literal braces; any other brace is a compile error,
// as is a placeholder count that differs from the number of values.

#include <charconv>
#include <concepts>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cadrio::log {

/// Marks a value that must never reach a log: it is not even kept.
struct PrivateValue {};

template <class T>
PrivateValue privateValue(const T&) {
    return {};
}

/// The text a private value is written as.
inline constexpr std::string_view kRedacted = "<private>";

namespace detail {

/// Placeholders in `format`, or -1 when a brace is neither part of "{}" nor
/// doubled.
constexpr int placeholderCount(std::string_view format) {
    int count = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '{' && c != '}') continue;
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '{' && next == '}') {
            ++count;
        } else if (next != c) {
            return -1;
        }
        ++i;
    }
    return count;
}

// Deliberately not constexpr: reaching it during constant evaluation makes
// a malformed format string a compile error.
void formatStringMismatch();

}  // namespace detail

template <class... Args>
class BasicFormatString {
public:
    template <class Text>
        requires std::convertible_to<const Text&, std::string_view>
    consteval BasicFormatString(const Text& text) : text_(text) {
        if (detail::placeholderCount(text_) != static_cast<int>(sizeof...(Args))) detail::formatStringMismatch();
    }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
};

/// The format parameter of the logging calls; deduces nothing itself.
template <class... Args>
using FormatString = BasicFormatString<std::type_identity_t<Args>...>;

/// The text of one value as a message shows it.
template <class T>
std::string valueText(const T& value) {
    if constexpr (std::is_same_v<T, PrivateValue>) {
        return std::string(kRedacted);
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_pointer_v<T> && std::convertible_to<T, const char*>) {
        return value != nullptr ? std::string(value) : std::string("(null)");
    } else if constexpr (std::convertible_to<const T&, std::string_view>) {
        return std::string(std::string_view(value));
    } else if constexpr (std::is_same_v<T, std::filesystem::path>) {
        return value.string();  // unquoted, unlike its stream form
    } else if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, char>) {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    } else {
        std::ostringstream stream;
        stream << value;
        return std::move(stream).str();
    }
}

/// `format` with each "{}" replaced by the next value's text and each "{{"
/// or "}}" by one brace. Tolerates mismatches (spare placeholders stay as
/// "{}", spare values are dropped) since it also serves unchecked texts.
std::string substitute(std::string_view format, const std::vector<std::string>& values);

}  // namespace cadrio::log
