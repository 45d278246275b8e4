// Deletion: the drive's trash, then the store.

#include <cerrno>
#include <exception>

#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/file_provider_extension.hpp"

namespace cadrio {

std::shared_ptr<fileprovider::Progress> FileProviderExtension::deleteItem(
    const fileprovider::ItemIdentifier& identifier, const fileprovider::ItemVersion& version, fileprovider::DeleteItemOptions options,
    const fileprovider::Request&, DeleteCompletion completion) {
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed || parsed->kind() == ItemIdentifier::Kind::root) {
        completion(fileprovider::Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    const bool recursive = fileprovider::contains(options, fileprovider::DeleteItemOptions::recursive);
    tasks_->start([this, id = *parsed, seen = version, recursive,
                   completion = std::move(completion)](std::stop_token stop) {
        const bool isFile = id.kind() == ItemIdentifier::Kind::file;
        try {
            restore_->waitUntilFinished(stop);
            // Another device's bytes, or its move of the file out of a
            // folder removed here, never seen by the one deleting: the file
            // stays, and comes back where the drive has it.
            const UnseenChange unseen = isFile ? unseenChange(id.id(), seen) : UnseenChange::none;
            if (unseen != UnseenChange::none) {
                if (unseen == UnseenChange::contents) {
                    logger_.notice("{} n'est pas mis à la corbeille : son contenu a changé sur le Cadrio entre-temps.",
                                   id.rawValue());
                } else {
                    logger_.notice("{} n'est pas mis à la corbeille : il a été déplacé ou renommé sur le Cadrio "
                                   "entre-temps.",
                                   id.rawValue());
                }
                completion(fileprovider::Error::fileProvider(fileprovider::FileProviderErrorCode::deletionRejected));
                return;
            }
            if (isFile) {
                parts_.api->trash({id.id()}, {}, stop);
                parts_.store->removeFile(id.id());
            } else if (!recursive && !folderIsEmpty(id.id(), stop)) {
                // Another device put something in it meanwhile: the trash
                // would take along what nobody here has seen.
                logger_.notice("{} n'est pas mis à la corbeille : il contient sur le Cadrio des éléments inconnus ici.",
                               id.rawValue());
                completion(fileprovider::Error::posix(ENOTEMPTY));
                return;
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

FileProviderExtension::UnseenChange FileProviderExtension::unseenChange(std::int64_t file,
                                                                      const fileprovider::ItemVersion& seen) const {
    const std::optional<DriveFile> known = parts_.store->file(file);
    if (!known) return UnseenChange::none;
    const fileprovider::ItemVersion now = DiskItem::file(*known)->itemVersion();
    if (!seen.contentVersion.empty() && now.contentVersion != seen.contentVersion) return UnseenChange::contents;
    if (!seen.metadataVersion.empty() && now.metadataVersion != seen.metadataVersion) return UnseenChange::place;
    return UnseenChange::none;
}

bool FileProviderExtension::folderIsEmpty(std::int64_t folder, std::stop_token stop) const {
    return parts_.api->folders(folder, stop).empty() && parts_.api->files(folder, stop).empty();
}

}  // namespace cadrio
