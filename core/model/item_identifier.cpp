#include "core/model/item_identifier.hpp"

#include "core/model/decimal_parsing.hpp"

namespace cadrio {

ItemIdentifier ItemIdentifier::folder(std::optional<std::int64_t> parentID) noexcept {
    if (!parentID || *parentID < 1) return root();
    return folder(*parentID);
}

std::optional<ItemIdentifier> ItemIdentifier::fromRawValue(std::string_view rawValue) {
    if (rawValue == rootRawValue) return root();
    const bool isFile = rawValue.starts_with("f:");
    if (!isFile && !rawValue.starts_with("d:")) return std::nullopt;
    const std::optional<std::int64_t> id = parseSignedDecimal(rawValue.substr(2));
    if (!id) return std::nullopt;
    return isFile ? file(*id) : folder(*id);
}

std::string ItemIdentifier::rawValue() const {
    switch (kind_) {
        case Kind::file: return "f:" + std::to_string(id_);
        case Kind::folder: return "d:" + std::to_string(id_);
        case Kind::root: break;
    }
    return std::string(rootRawValue);
}

std::optional<std::int64_t> ItemIdentifier::serverFolderID() const noexcept {
    if (kind_ == Kind::folder) return id_;
    return std::nullopt;
}

}  // namespace cadrio
