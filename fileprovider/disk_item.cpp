#include "fileprovider/disk_item.hpp"

#include <string>

#include "core/model/content_version.hpp"
#include "core/model/date.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "fileprovider/display_name.hpp"
#include "platform/types/content_type_registry.hpp"

namespace cadrio {
namespace {

template <class... Cases>
struct Overloaded : Cases... {
    using Cases::operator()...;
};
template <class... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;

// Folder versions change when the folder's own record changes, which the
// server marks by its modification time.
std::string folderVersion(const DriveFolder& folder) { return std::to_string(unixSecondsTruncated(folder.modifiedAt)); }

}  // namespace

fileprovider::ItemIdentifier hostIdentifier(const ItemIdentifier& identifier) {
    return fileprovider::ItemIdentifier(identifier.rawValue());
}

std::shared_ptr<const DiskItem> DiskItem::folder(DriveFolder folder) {
    return std::make_shared<const DiskItem>(Kind(std::move(folder)));
}

std::shared_ptr<const DiskItem> DiskItem::file(DriveFile file) {
    return std::make_shared<const DiskItem>(Kind(std::move(file)));
}

std::shared_ptr<const DiskItem> DiskItem::root() { return std::make_shared<const DiskItem>(Kind(Root{})); }

ItemIdentifier DiskItem::identifier() const {
    return std::visit(Overloaded{[](const DriveFolder& folder) { return ItemIdentifier::folder(folder.id); },
                                 [](const DriveFile& file) { return ItemIdentifier::file(file.id); },
                                 [](const Root&) { return ItemIdentifier::root(); }},
                      kind_);
}

fileprovider::ItemIdentifier DiskItem::itemIdentifier() const { return hostIdentifier(identifier()); }

fileprovider::ItemIdentifier DiskItem::parentItemIdentifier() const {
    const ItemIdentifier parent =
        std::visit(Overloaded{[](const DriveFolder& folder) { return ItemIdentifier::folder(folder.parentFolderID); },
                              [](const DriveFile& file) { return ItemIdentifier::folder(file.parentFolderID); },
                              [](const Root&) { return ItemIdentifier::root(); }},
                   kind_);
    return hostIdentifier(parent);
}

std::string DiskItem::filename() const {
    return std::visit(Overloaded{[](const DriveFolder& folder) { return displayedName(folder.name); },
                                 [](const DriveFile& file) { return displayedName(file.name); },
                                 [](const Root&) { return std::string(ZelvanoCadrio::domainDisplayName); }},
                      kind_);
}

types::ContentType DiskItem::contentType() const {
    if (const auto* file = std::get_if<DriveFile>(&kind_)) {
        return types::ContentTypeRegistry::shared().dataTypeForName(file->name);
    }
    return types::ContentType::folder();
}

fileprovider::ItemVersion DiskItem::itemVersion() const {
    return std::visit(
        Overloaded{[](const DriveFolder& folder) {
                       const std::string version = folderVersion(folder);
                       return fileprovider::ItemVersion{version, version};
                   },
                   [](const DriveFile& file) {
                       return fileprovider::ItemVersion{
                           ContentVersion::token(file),
                           file.name + "-" + std::to_string(file.parentFolderID.value_or(0))};
                   },
                   [](const Root&) { return fileprovider::ItemVersion{"root", "root"}; }},
        kind_);
}

fileprovider::ItemCapabilities DiskItem::capabilities() const {
    return std::holds_alternative<Root>(kind_) ? kRootCapabilities : kItemCapabilities;
}

std::optional<std::int64_t> DiskItem::documentSize() const {
    if (const auto* file = std::get_if<DriveFile>(&kind_)) return file->size;
    return std::nullopt;
}

std::optional<fileprovider::Date> DiskItem::creationDate() const { return contentModificationDate(); }

std::optional<fileprovider::Date> DiskItem::contentModificationDate() const {
    return std::visit(Overloaded{[](const DriveFolder& folder) { return std::optional(folder.modifiedAt); },
                                 [](const DriveFile& file) { return std::optional(file.modifiedAt); },
                                 [](const Root&) { return std::optional<Date>(); }},
                      kind_);
}

}  // namespace cadrio
