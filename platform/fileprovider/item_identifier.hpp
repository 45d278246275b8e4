#pragma once
// The framework's item identifier: an opaque string that a plug-in chooses
// for its items, plus three that belong to the framework itself (the root
// container, the working set and the trash). A value type.

#include <compare>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace cadrio::fileprovider {

class ItemIdentifier {
public:
    static constexpr std::string_view rootContainerRawValue = "NSFileProviderRootContainerItemIdentifier";
    static constexpr std::string_view workingSetRawValue = "NSFileProviderWorkingSetContainerItemIdentifier";
    static constexpr std::string_view trashContainerRawValue = "NSFileProviderTrashContainerItemIdentifier";

    explicit ItemIdentifier(std::string rawValue) : rawValue_(std::move(rawValue)) {}

    static ItemIdentifier rootContainer() { return ItemIdentifier(std::string(rootContainerRawValue)); }
    static ItemIdentifier workingSet() { return ItemIdentifier(std::string(workingSetRawValue)); }
    static ItemIdentifier trashContainer() { return ItemIdentifier(std::string(trashContainerRawValue)); }

    const std::string& rawValue() const noexcept { return rawValue_; }
    bool isRootContainer() const noexcept { return rawValue_ == rootContainerRawValue; }
    bool isWorkingSet() const noexcept { return rawValue_ == workingSetRawValue; }
    bool isTrashContainer() const noexcept { return rawValue_ == trashContainerRawValue; }

    auto operator<=>(const ItemIdentifier&) const = default;

private:
    std::string rawValue_;
};

inline std::ostream& operator<<(std::ostream& out, const ItemIdentifier& identifier) {
    return out << identifier.rawValue();
}

}  // namespace cadrio::fileprovider

template <>
struct std::hash<cadrio::fileprovider::ItemIdentifier> {
    std::size_t operator()(const cadrio::fileprovider::ItemIdentifier& identifier) const noexcept {
        return std::hash<std::string>{}(identifier.rawValue());
    }
};
