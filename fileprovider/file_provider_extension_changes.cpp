// Creations and modifications, handed to their handlers with the
// extension's drive, store, log, session gate and creations in doubt.

#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/item_creation.hpp"
#include "fileprovider/item_modification.hpp"

namespace cadrio {

std::shared_ptr<fileprovider::Progress> FileProviderExtension::createItem(
    fileprovider::ItemPtr itemTemplate, fileprovider::ItemFields, const std::optional<std::filesystem::path>& contents,
    fileprovider::CreateItemOptions options, const fileprovider::Request&, ItemChangeCompletion completion) {
    return cadrio::createItem({parts_.api, parts_.store, logger_, restore_, creations_}, *tasks_, *itemTemplate, contents, options,
                              std::move(completion));
}

std::shared_ptr<fileprovider::Progress> FileProviderExtension::modifyItem(
    fileprovider::ItemPtr item, const fileprovider::ItemVersion& baseVersion, fileprovider::ItemFields changedFields,
    const std::optional<std::filesystem::path>& contents, fileprovider::ModifyItemOptions, const fileprovider::Request&,
    ItemChangeCompletion completion) {
    return cadrio::modifyItem({parts_.api, parts_.store, logger_, restore_, creations_}, *tasks_, *item, baseVersion,
                              changedFields, contents, std::move(completion));
}

}  // namespace cadrio
