#include "platform/fileprovider/replicated_extension.hpp"

#include <string>

namespace cadrio::fileprovider {

Error ReplicatedExtension::unsupported(std::string_view entryPoint) {
    return Error::featureUnsupported("Fonction non prise en charge par cette extension : " + std::string(entryPoint) +
                                     ".");
}

std::shared_ptr<Progress> ReplicatedExtension::fetchContents(const ItemIdentifier&, const std::optional<ItemVersion>&,
                                                             const Request&, FetchContentsCompletion completion) {
    auto progress = Progress::create();
    completion(std::nullopt, nullptr, unsupported("fetchContents"));
    return progress;
}

std::shared_ptr<Progress> ReplicatedExtension::createItem(ItemPtr, ItemFields, const std::optional<std::filesystem::path>&,
                                                          CreateItemOptions, const Request&,
                                                          ItemChangeCompletion completion) {
    auto progress = Progress::create();
    completion(nullptr, ItemFields::none, false, unsupported("createItem"));
    return progress;
}

std::shared_ptr<Progress> ReplicatedExtension::modifyItem(ItemPtr, const ItemVersion&, ItemFields,
                                                          const std::optional<std::filesystem::path>&,
                                                          ModifyItemOptions, const Request&,
                                                          ItemChangeCompletion completion) {
    auto progress = Progress::create();
    completion(nullptr, ItemFields::none, false, unsupported("modifyItem"));
    return progress;
}

std::shared_ptr<Progress> ReplicatedExtension::deleteItem(const ItemIdentifier&, const ItemVersion&, DeleteItemOptions,
                                                          const Request&, DeleteCompletion completion) {
    auto progress = Progress::create();
    completion(unsupported("deleteItem"));
    return progress;
}

std::shared_ptr<Progress> ReplicatedExtension::fetchThumbnails(std::vector<ItemIdentifier> identifiers, ThumbnailSize,
                                                               PerThumbnailCompletion, ThumbnailsCompletion completion) {
    auto progress = Progress::create(static_cast<std::int64_t>(identifiers.size()));
    completion(unsupported("fetchThumbnails"));
    return progress;
}

}  // namespace cadrio::fileprovider
