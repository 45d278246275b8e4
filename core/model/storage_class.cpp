#include "core/model/storage_class.hpp"

#include <array>
#include <utility>

namespace cadrio {
namespace {

constexpr std::array<std::pair<StorageClass, std::string_view>, 5> kRawValues{{
    {StorageClass::standard, "standard"},
    {StorageClass::glacier, "glacier"},
    {StorageClass::archiving, "archiving"},
    {StorageClass::unarchiving, "unarchiving"},
    {StorageClass::restoring, "restoring"},
}};

}  // namespace

std::string_view rawValue(StorageClass storageClass) {
    for (const auto& [value, raw] : kRawValues) {
        if (value == storageClass) return raw;
    }
    return "standard";
}

std::optional<StorageClass> storageClassFromRawValue(std::string_view rawValue) {
    for (const auto& [value, raw] : kRawValues) {
        if (raw == rawValue) return value;
    }
    return std::nullopt;
}

StorageClass storageClassFromServerValue(const std::optional<std::string>& serverValue) {
    std::string_view text = serverValue ? std::string_view(*serverValue) : std::string_view();
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return storageClassFromRawValue(lowered).value_or(StorageClass::standard);
}

}  // namespace cadrio
