// Deletion: the drive's trash, then the store.

#include <exception>

#include "fileprovider/error_mapping.hpp"
#include "fileprovider/file_provider_extension.hpp"

namespace cadrio {

std::shared_ptr<fileprovider::Progress> FileProviderExtension::deleteItem(
    const fileprovider::ItemIdentifier& identifier, const fileprovider::ItemVersion&, fileprovider::DeleteItemOptions,
    const fileprovider::Request&, DeleteCompletion completion) {
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed || parsed->kind() == ItemIdentifier::Kind::root) {
        completion(fileprovider::Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    tasks_->start([this, id = *parsed, completion = std::move(completion)](std::stop_token stop) {
        const bool isFile = id.kind() == ItemIdentifier::Kind::file;
        try {
            restore_->waitUntilFinished(stop);
            if (isFile) {
                parts_.api->trash({id.id()}, {}, stop);
                parts_.store->removeFile(id.id());
            } else {
                parts_.api->trash({}, {id.id()}, stop);
                parts_.store->removeFolder(id.id());
            }
            parts_.store->save();
            logger_.info("{} mis à la corbeille du Cadrio.", id.rawValue());
            completion(std::nullopt);
        } catch (...) {
            logger_.error("Suppression de {} impossible : {}", id.rawValue(), describeError(std::current_exception()));
            completion(mapError(std::current_exception()));
        }
    });
    return fileprovider::Progress::create();
}

}  // namespace cadrio
