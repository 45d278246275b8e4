// Creations and modifications: the drive first, then the store, then the
// answer.

#include <exception>

#include "core/model/content_version.hpp"
#include "core/model/sync_naming.hpp"
#include "core/model/time_zone.hpp"
#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/local_content.hpp"
#include "fileprovider/name_order.hpp"
#include "fileprovider/upload_progress.hpp"
#include "platform/types/content_type_registry.hpp"

namespace cadrio {

using fileprovider::Error;
using fileprovider::ItemFields;
using fileprovider::ItemPtr;

struct FileProviderExtension::Change {
    ItemIdentifier id;
    std::string name;
    std::optional<ItemIdentifier> parent;  // absent: not a folder or the root
    std::optional<std::int64_t> documentSize;
    std::string baseContentVersion;
    ItemFields changed;
    std::optional<std::filesystem::path> contents;
    std::function<void(std::int64_t)> progress;
};

namespace {

bool isDriveError(std::exception_ptr error, DriveError::Kind kind) {
    try {
        std::rethrow_exception(error);
    } catch (const DriveError& drive) {
        return drive.kind() == kind;
    } catch (...) {
        return false;
    }
}

std::optional<std::int64_t> parentID(const ItemIdentifier& folder) {
    if (folder.kind() == ItemIdentifier::Kind::root) return std::nullopt;
    return folder.id();
}

std::optional<ItemIdentifier> parsedFolder(const fileprovider::ItemIdentifier& identifier) {
    std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed || !parsed->isFolderOrRoot()) return std::nullopt;
    return parsed;
}

}  // namespace

std::shared_ptr<fileprovider::Progress> FileProviderExtension::createItem(
    ItemPtr itemTemplate, ItemFields, const std::optional<std::filesystem::path>& contents,
    fileprovider::CreateItemOptions options, const fileprovider::Request&, ItemChangeCompletion completion) {
    const std::string name = itemTemplate->filename();
    if (SyncNaming::isExcludedFromSync(name)) {
        completion(nullptr, ItemFields::none, false, Error::excludedFromSync());
        return fileprovider::Progress::create();
    }
    const std::optional<ItemIdentifier> parent = parsedFolder(itemTemplate->parentItemIdentifier());
    if (!parent) {
        completion(nullptr, ItemFields::none, false, Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    const auto& types = types::ContentTypeRegistry::shared();
    const types::ContentType type = itemTemplate->contentType();
    if (types.conforms(type, types::ContentType::symbolicLink())) {
        completion(nullptr, ItemFields::none, false,
                   Error::featureUnsupported("Les liens symboliques ne sont pas pris en charge par le Cadrio."));
        return fileprovider::Progress::create();
    }
    const bool isFolder =
        types.conforms(type, types::ContentType::directory()) || types.conforms(type, types::ContentType::folder());
    const bool mayExist = fileprovider::contains(options, fileprovider::CreateItemOptions::mayAlreadyExist);
    auto progress = makeUploadProgress(contents);
    return startCancellableTask(
        *tasks_, progress, std::move(completion),
        [](const auto& complete) { complete(nullptr, ItemFields::none, false, Error::userCancelled()); },
        [this, name, parent = parentID(*parent), isFolder, mayExist, contents,
         report = uploadProgressReporter(progress)](std::stop_token stop, const auto& complete) {
            try {
                const auto answer = [&](ItemPtr item) { complete(std::move(item), ItemFields::none, false, std::nullopt); };
                const std::string canonical = canonicalName(name);
                if (isFolder) {
                    if (mayExist) {
                        for (DriveFolder& folder : parts_.store->children(parent).folders) {
                            if (canonicalName(folder.name) == canonical) return answer(DiskItem::folder(std::move(folder)));
                        }
                    }
                    restore_->waitUntilFinished(stop);
                    const std::int64_t id = parts_.api->createFolder(name, parent, stop);
                    const DriveFolder folder{.id = id,
                                             .parentFolderID = parent,
                                             .name = name,
                                             .modifiedAt = parts_.client->clock().wallNow(),
                                             .isTrashed = false};
                    parts_.store->upsert(std::vector{folder}, {});
                    parts_.store->save();
                    logger_.info("Dossier {} créé.", id);
                    return answer(DiskItem::folder(folder));
                }
                const LocalContent local = localContent(contents, name);
                if (mayExist) {
                    for (DriveFile& file : parts_.store->children(parent).files) {
                        if (canonicalName(file.name) == canonical && file.contentHash == local.contentHash) {
                            return answer(DiskItem::file(std::move(file)));
                        }
                    }
                }
                restore_->waitUntilFinished(stop);
                const DriveFile file = parts_.api->createFile(name, parent, local, report, stop);
                parts_.store->upsert({}, std::vector{file});
                parts_.store->save();
                logger_.info("Fichier {} créé ({} octets).", file.id, local.size);
                answer(DiskItem::file(file));
            } catch (...) {
                if (stop.stop_requested()) {
                    complete(nullptr, ItemFields::none, false, Error::userCancelled());
                    return;
                }
                logger_.error("Création impossible : {}", describeError(std::current_exception()));
                complete(nullptr, ItemFields::none, false, mapError(std::current_exception()));
            }
        });
}

std::shared_ptr<fileprovider::Progress> FileProviderExtension::modifyItem(
    ItemPtr item, const fileprovider::ItemVersion& baseVersion, ItemFields changedFields,
    const std::optional<std::filesystem::path>& contents, fileprovider::ModifyItemOptions, const fileprovider::Request&,
    ItemChangeCompletion completion) {
    const std::optional<ItemIdentifier> id = ItemIdentifier::fromRawValue(item->itemIdentifier().rawValue());
    if (!id) {
        completion(nullptr, ItemFields::none, false, Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    if (id->kind() == ItemIdentifier::Kind::root) {
        completion(DiskItem::root(), ItemFields::none, false, std::nullopt);
        return fileprovider::Progress::create();
    }
    auto progress = makeUploadProgress(contents);
    Change change{.id = *id,
                  .name = item->filename(),
                  .parent = parsedFolder(item->parentItemIdentifier()),
                  .documentSize = item->documentSize(),
                  .baseContentVersion = baseVersion.contentVersion,
                  .changed = changedFields,
                  .contents = contents,
                  .progress = uploadProgressReporter(progress)};
    return startCancellableTask(
        *tasks_, progress, std::move(completion),
        [](const auto& complete) { complete(nullptr, ItemFields::none, false, Error::userCancelled()); },
        [this, change = std::move(change)](std::stop_token stop, const auto& complete) {
            try {
                restore_->waitUntilFinished(stop);
                if (change.id.kind() == ItemIdentifier::Kind::folder) {
                    complete(modifyFolder(change, stop), ItemFields::none, false, std::nullopt);
                } else {
                    auto [item, fetchAgain] = modifyFile(change, stop);
                    complete(std::move(item), ItemFields::none, fetchAgain, std::nullopt);
                }
            } catch (...) {
                if (stop.stop_requested()) {
                    complete(nullptr, ItemFields::none, false, Error::userCancelled());
                    return;
                }
                logger_.error("Modification de {} impossible : {}", change.id.rawValue(),
                              describeError(std::current_exception()));
                complete(nullptr, ItemFields::none, false, mapError(std::current_exception()));
            }
        });
}

ItemPtr FileProviderExtension::modifyFolder(const Change& change, std::stop_token stop) const {
    const std::int64_t id = change.id.id();
    const std::optional<DriveFolder> stored = parts_.store->folder(id);
    const DriveFolder base = stored.value_or(DriveFolder{.id = id,
                                                         .parentFolderID = change.parent ? parentID(*change.parent)
                                                                                         : std::nullopt,
                                                         .name = change.name,
                                                         .modifiedAt = parts_.client->clock().wallNow(),
                                                         .isTrashed = false});
    std::optional<std::string> newName;
    if (!stored || (fileprovider::contains(change.changed, ItemFields::filename) && change.name != base.name)) {
        newName = change.name;
    }
    std::optional<std::optional<std::int64_t>> newParent;
    if (fileprovider::contains(change.changed, ItemFields::parentItemIdentifier) && change.parent &&
        parentID(*change.parent) != base.parentFolderID) {
        newParent = parentID(*change.parent);
    }
    if (!newName && !newParent) return DiskItem::folder(base);
    parts_.api->updateFolder(id, newName, newParent, stop);
    const DriveFolder updated{.id = id,
                              .parentFolderID = newParent.value_or(base.parentFolderID),
                              .name = newName.value_or(base.name),
                              .modifiedAt = parts_.client->clock().wallNow(),
                              .isTrashed = false};
    parts_.store->upsert(std::vector{updated}, {});
    parts_.store->save();
    logger_.info("Dossier {} renommé ou déplacé.", id);
    return DiskItem::folder(updated);
}

std::pair<ItemPtr, bool> FileProviderExtension::modifyFile(const Change& change, std::stop_token stop) const {
    const std::int64_t id = change.id.id();
    const std::optional<DriveFile> stored = parts_.store->file(id);
    DriveFile base;
    if (stored) {
        base = *stored;
    } else {
        // Unknown to the store: the server's hash and upload time make the
        // precondition of a content change.
        base = DriveFile{.id = id,
                         .parentFolderID = change.parent ? parentID(*change.parent) : std::nullopt,
                         .name = change.name,
                         .storageKey = {},
                         .size = change.documentSize.value_or(0),
                         .contentHash = std::nullopt,
                         .modifiedAt = parts_.client->clock().wallNow(),
                         .isTrashed = false,
                         .storageClass = StorageClass::standard,
                         .thumbnailPath = std::nullopt,
                         .uploadTimestamp = std::nullopt};
        base = base.refreshed(parts_.api->contentURL(base, stop), std::nullopt);
    }
    if (fileprovider::contains(change.changed, ItemFields::parentItemIdentifier) && change.parent &&
        (!stored || parentID(*change.parent) != base.parentFolderID)) {
        parts_.api->move({id}, {}, parentID(*change.parent), stop);
        base = base.with(base.name, parentID(*change.parent));
    }
    if (fileprovider::contains(change.changed, ItemFields::filename) && (!stored || change.name != base.name)) {
        if (SyncNaming::isExcludedFromSync(change.name)) throw fileprovider::ErrorException(Error::excludedFromSync());
        parts_.api->renameFile(id, change.name, stop);
        base = base.with(change.name, base.parentFolderID);
    }
    bool fetchAgain = false;
    if (fileprovider::contains(change.changed, ItemFields::contents) && change.contents) {
        const LocalContent local = localContent(change.contents, change.name);
        try {
            base = parts_.api->replaceContent(base, local, ContentVersion::precondition(change.baseContentVersion),
                                              change.progress, stop);
            logger_.info("Contenu du fichier {} remplacé ({} octets).", id, local.size);
        } catch (...) {
            if (!isDriveError(std::current_exception(), DriveError::Kind::versionConflict)) throw;
            // The server's content moved on: the local edit becomes a file of
            // its own and the original shows the server's version again.
            const std::string copyName = SyncNaming::conflictCopyName(
                change.name, parts_.client->clock().wallNow(), currentTimeZoneName());
            const DriveFile copy = parts_.api->createFile(copyName, base.parentFolderID, local, change.progress, stop);
            parts_.store->upsert({}, std::vector{copy});
            parts_.store->recordConflict(change.name, copyName);
            base = base.refreshed(parts_.api->contentURL(base, stop), std::nullopt);
            logger_.info("Conflit sur le fichier {} : copie {} créée.", id, copy.id);
            fetchAgain = true;
        }
    }
    parts_.store->upsert({}, std::vector{base});
    parts_.store->save();
    return {DiskItem::file(base), fetchAgain};
}

}  // namespace cadrio
