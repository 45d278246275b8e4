#pragma once
// An item as the host sees it: one file or folder with everything the host
// shows or keeps about it.
//
// Items are immutable once handed over: every accessor may be called from
// any thread, any number of times, and must answer the same each time.
// They travel as shared pointers to const so that an answer handed to the
// host from a plug-in's worker thread stays valid as long as either side
// needs it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/fileprovider/byte_strings.hpp"
#include "platform/fileprovider/item_flags.hpp"
#include "platform/fileprovider/item_identifier.hpp"
#include "platform/types/content_type.hpp"

namespace cadrio::fileprovider {

using Date = std::chrono::system_clock::time_point;

class Item {
public:
    virtual ~Item() = default;

    virtual ItemIdentifier itemIdentifier() const = 0;
    /// The root container is its own parent.
    virtual ItemIdentifier parentItemIdentifier() const = 0;
    /// The name shown in the folder: one path component, never "/" inside.
    virtual std::string filename() const = 0;
    virtual types::ContentType contentType() const = 0;
    virtual ItemVersion itemVersion() const = 0;
    virtual ItemCapabilities capabilities() const = 0;

    /// Absent when unknown (always for folders).
    virtual std::optional<std::int64_t> documentSize() const { return std::nullopt; }
    virtual std::optional<Date> creationDate() const { return std::nullopt; }
    virtual std::optional<Date> contentModificationDate() const { return std::nullopt; }
};

using ItemPtr = std::shared_ptr<const Item>;

/// An item held as plain fields: what the host builds for the templates of
/// creations and modifications, and what it keeps of a plug-in's item.
class BasicItem final : public Item {
public:
    ItemIdentifier identifier = ItemIdentifier(std::string());
    ItemIdentifier parent = ItemIdentifier::rootContainer();
    std::string name;
    types::ContentType type = types::ContentType::data();
    ItemVersion version;
    ItemCapabilities itemCapabilities = ItemCapabilities::none;
    std::optional<std::int64_t> size;
    std::optional<Date> created;
    std::optional<Date> modified;

    /// Every property of `item`, read once.
    static BasicItem copyOf(const Item& item);

    ItemIdentifier itemIdentifier() const override { return identifier; }
    ItemIdentifier parentItemIdentifier() const override { return parent; }
    std::string filename() const override { return name; }
    types::ContentType contentType() const override { return type; }
    ItemVersion itemVersion() const override { return version; }
    ItemCapabilities capabilities() const override { return itemCapabilities; }
    std::optional<std::int64_t> documentSize() const override { return size; }
    std::optional<Date> creationDate() const override { return created; }
    std::optional<Date> contentModificationDate() const override { return modified; }

    bool operator==(const BasicItem& other) const;
};

}  // namespace cadrio::fileprovider
