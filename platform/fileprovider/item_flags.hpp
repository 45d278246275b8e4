#pragma once
// The framework's bit sets that travel with items: what the user may do with
// an item, which fields of an item changed, and the options of creation,
// modification and deletion requests. Values are the framework's own.

#include <cstdint>

#include "platform/fileprovider/bit_flags.hpp"

namespace cadrio::fileprovider {

enum class ItemCapabilities : std::uint32_t {
    none = 0,
    allowsReading = 1 << 0,
    allowsContentEnumerating = 1 << 0,  // the folder reading of the same bit
    allowsWriting = 1 << 1,
    allowsAddingSubItems = 1 << 1,  // the folder writing of the same bit
    allowsReparenting = 1 << 2,
    allowsRenaming = 1 << 3,
    allowsTrashing = 1 << 4,
    allowsDeleting = 1 << 5,
    allowsEvicting = 1 << 6,
    allowsExcludingFromSync = 1 << 7,
};
template <>
struct IsBitFlags<ItemCapabilities> : std::true_type {};

enum class ItemFields : std::uint32_t {
    none = 0,
    contents = 1 << 0,
    filename = 1 << 1,
    parentItemIdentifier = 1 << 2,
    lastUsedDate = 1 << 3,
    tagData = 1 << 4,
    favoriteRank = 1 << 5,
    creationDate = 1 << 6,
    contentModificationDate = 1 << 7,
    fileSystemFlags = 1 << 8,
    extendedAttributes = 1 << 9,
    typeAndCreator = 1 << 10,
};
template <>
struct IsBitFlags<ItemFields> : std::true_type {};

enum class CreateItemOptions : std::uint32_t {
    none = 0,
    /// The item may exist on the server already (for example after the host
    /// lost its replica); the plug-in should answer the existing one.
    mayAlreadyExist = 1 << 0,
};
template <>
struct IsBitFlags<CreateItemOptions> : std::true_type {};

enum class ModifyItemOptions : std::uint32_t {
    none = 0,
    mayAlreadyExist = 1 << 0,
};
template <>
struct IsBitFlags<ModifyItemOptions> : std::true_type {};

enum class DeleteItemOptions : std::uint32_t {
    none = 0,
    /// The folder goes with everything below it.
    recursive = 1 << 0,
};
template <>
struct IsBitFlags<DeleteItemOptions> : std::true_type {};

}  // namespace cadrio::fileprovider
