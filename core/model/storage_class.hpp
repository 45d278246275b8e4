#pragma once
// Where the server keeps a file's content; only `standard` is synchronised.

#include <optional>
#include <string>
#include <string_view>

namespace cadrio {

enum class StorageClass { standard, glacier, archiving, unarchiving, restoring };

/// The raw value: "standard", "glacier", "archiving", "unarchiving", "restoring".
std::string_view rawValue(StorageClass storageClass);

/// Exact, case-sensitive match of a raw value.
std::optional<StorageClass> storageClassFromRawValue(std::string_view rawValue);

/// Tolerant reading of a server value: spaces and tabs trimmed at both ends
/// (line breaks are not), lower-cased, matched; absent or unknown gives
/// `standard`. Never fails.
StorageClass storageClassFromServerValue(const std::optional<std::string>& serverValue);

inline bool isSynchronizable(StorageClass storageClass) {
    return storageClass == StorageClass::standard;
}

}  // namespace cadrio
