#include "platform/fileprovider/item.hpp"

#include <tuple>

namespace cadrio::fileprovider {

BasicItem BasicItem::copyOf(const Item& item) {
    BasicItem copy;
    copy.identifier = item.itemIdentifier();
    copy.parent = item.parentItemIdentifier();
    copy.name = item.filename();
    copy.type = item.contentType();
    copy.version = item.itemVersion();
    copy.itemCapabilities = item.capabilities();
    copy.size = item.documentSize();
    copy.created = item.creationDate();
    copy.modified = item.contentModificationDate();
    return copy;
}

bool BasicItem::operator==(const BasicItem& other) const {
    auto fields = [](const BasicItem& item) {
        return std::tie(item.identifier, item.parent, item.name, item.type, item.version, item.itemCapabilities,
                        item.size, item.created, item.modified);
    };
    return fields(*this) == fields(other);
}

}  // namespace cadrio::fileprovider
