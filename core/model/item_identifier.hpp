#pragma once
// The identity of one drive item as the file-provider host sees it: a file or
// a folder by server id, or the root container. A value type.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cadrio {

class ItemIdentifier {
public:
    enum class Kind { file, folder, root };

    /// The host's own identifier of the root container.
    static constexpr std::string_view rootRawValue = "NSFileProviderRootContainerItemIdentifier";

    static ItemIdentifier file(std::int64_t id) noexcept { return {Kind::file, id}; }
    static ItemIdentifier folder(std::int64_t id) noexcept { return {Kind::folder, id}; }
    static ItemIdentifier root() noexcept { return {Kind::root, 0}; }

    /// The parent of an item as the server reports it: `root` when `parentID`
    /// is absent or below 1, else `folder(*parentID)`. Note that the plain
    /// `folder(0)` overload, by contrast, names a folder whose id is 0.
    static ItemIdentifier folder(std::optional<std::int64_t> parentID) noexcept;

    /// Parses "f:" + id, "d:" + id (id as `parseSignedDecimal` reads it) or
    /// the root text; absent for anything else.
    static std::optional<ItemIdentifier> fromRawValue(std::string_view rawValue);

    Kind kind() const noexcept { return kind_; }
    /// The server id of a file or folder; 0 for the root.
    std::int64_t id() const noexcept { return id_; }

    /// "f:42", "d:7" or `rootRawValue`.
    std::string rawValue() const;
    std::string description() const { return rawValue(); }

    /// The id of a `folder`; absent for files and the root.
    std::optional<std::int64_t> serverFolderID() const noexcept;
    bool isFolderOrRoot() const noexcept { return kind_ != Kind::file; }

    bool operator==(const ItemIdentifier&) const = default;

private:
    ItemIdentifier(Kind kind, std::int64_t id) noexcept : kind_(kind), id_(id) {}

    Kind kind_;
    std::int64_t id_;
};

inline std::ostream& operator<<(std::ostream& out, const ItemIdentifier& identifier) {
    return out << identifier.rawValue();
}

}  // namespace cadrio

template <>
struct std::hash<cadrio::ItemIdentifier> {
    std::size_t operator()(const cadrio::ItemIdentifier& identifier) const noexcept {
        const auto kind = static_cast<std::size_t>(identifier.kind());
        return std::hash<std::int64_t>{}(identifier.id()) * 3 + kind;
    }
};
