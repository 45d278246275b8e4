#pragma once
// The item the plug-in hands to the host: one drive folder, one drive file
// or the root, with every property the host reads derived from that record
// on each read (see docs/host-contract.md for the table).
//
// Immutable after construction; every accessor may be called from any
// thread. Items travel as shared pointers to const (fileprovider::ItemPtr);
// each holds its own copy of its record.

#include <memory>
#include <variant>

#include "core/model/drive_records.hpp"
#include "core/model/item_identifier.hpp"
#include "platform/fileprovider/item.hpp"

namespace cadrio {

class DiskItem final : public fileprovider::Item {
public:
    /// The drive's root folder, the root container of the domain.
    struct Root {
        bool operator==(const Root&) const = default;
    };
    using Kind = std::variant<DriveFolder, DriveFile, Root>;

    /// Capabilities of files and folders: not trash, since deleting puts
    /// the item in the drive's own trash already.
    static constexpr fileprovider::ItemCapabilities kItemCapabilities =
        fileprovider::ItemCapabilities::allowsReading | fileprovider::ItemCapabilities::allowsWriting |
        fileprovider::ItemCapabilities::allowsReparenting | fileprovider::ItemCapabilities::allowsRenaming |
        fileprovider::ItemCapabilities::allowsDeleting | fileprovider::ItemCapabilities::allowsEvicting;
    /// The root can be listed, added to and evicted, nothing else.
    static constexpr fileprovider::ItemCapabilities kRootCapabilities =
        fileprovider::ItemCapabilities::allowsContentEnumerating |
        fileprovider::ItemCapabilities::allowsAddingSubItems | fileprovider::ItemCapabilities::allowsEvicting;

    explicit DiskItem(Kind kind) : kind_(std::move(kind)) {}

    static std::shared_ptr<const DiskItem> folder(DriveFolder folder);
    static std::shared_ptr<const DiskItem> file(DriveFile file);
    static std::shared_ptr<const DiskItem> root();

    const Kind& kind() const noexcept { return kind_; }
    /// The drive identifier of this item.
    ItemIdentifier identifier() const;

    fileprovider::ItemIdentifier itemIdentifier() const override;
    fileprovider::ItemIdentifier parentItemIdentifier() const override;
    std::string filename() const override;
    types::ContentType contentType() const override;
    fileprovider::ItemVersion itemVersion() const override;
    fileprovider::ItemCapabilities capabilities() const override;
    std::optional<std::int64_t> documentSize() const override;
    std::optional<fileprovider::Date> creationDate() const override;
    std::optional<fileprovider::Date> contentModificationDate() const override;

private:
    Kind kind_;
};

/// The host's form of a drive identifier (same text).
fileprovider::ItemIdentifier hostIdentifier(const ItemIdentifier& identifier);

}  // namespace cadrio
