#include "core/model/storage_class.hpp"

#include <array>
#include <utility>

#include "core/model/ascii_text.hpp"

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
    const std::string folded = serverValue ? foldedServerValue(*serverValue) : std::string();
    return storageClassFromRawValue(folded).value_or(StorageClass::standard);
}

}  // namespace cadrio
