#include "fileprovider/item_creation.hpp"

#include <exception>
#include <system_error>
#include <utility>

#include "core/model/item_identifier.hpp"
#include "core/model/sync_naming.hpp"
#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/local_content.hpp"
#include "fileprovider/name_order.hpp"
#include "fileprovider/upload_progress.hpp"

namespace cadrio {

using fileprovider::CreateItemOptions;
using fileprovider::Error;
using fileprovider::ItemFields;
using fileprovider::ItemPtr;
using types::ContentType;

namespace {

using Complete = GuardedCompletion<ItemPtr, ItemFields, bool, std::optional<Error>>;

/// Removes the scratch file that stood for absent contents once the upload
/// is over, whatever its outcome; the host's own files are never touched.
class ScratchFile {
public:
    explicit ScratchFile(std::optional<std::filesystem::path> path) : path_(std::move(path)) {}
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        std::error_code ignored;
        if (path_) std::filesystem::remove(*path_, ignored);
    }

private:
    std::optional<std::filesystem::path> path_;
};

struct Creation {
    std::string name;
    std::optional<std::int64_t> parent;
    bool mayAlreadyExist = false;
    std::optional<std::filesystem::path> contents;
};

ItemPtr createFolder(const ItemChangeParts& parts, const Creation& creation, std::stop_token stop) {
    if (creation.mayAlreadyExist) {
        for (const DriveFolder& folder : parts.store->children(creation.parent).folders) {
            if (namesAreEquivalent(folder.name, creation.name)) return DiskItem::folder(folder);
        }
    }
    const std::int64_t id = parts.api->createFolder(creation.name, creation.parent, stop);
    const DriveFolder folder{.id = id,
                             .parentFolderID = creation.parent,
                             .name = creation.name,
                             .modifiedAt = parts.api->client().clock().wallNow(),
                             .isTrashed = false};
    parts.store->upsert(std::span(&folder, 1), {});
    parts.store->save();
    parts.logger.info("Dossier {} créé.", id);
    return DiskItem::folder(folder);
}

ItemPtr createFile(const ItemChangeParts& parts, const Creation& creation, const DriveAPI::Progress& report,
                   std::stop_token stop) {
    const LocalContent local = localContent(creation.contents, creation.name);
    const ScratchFile scratch(creation.contents ? std::nullopt : std::optional(local.url));
    if (creation.mayAlreadyExist) {
        const auto isThisOne = [&](const DriveFile& file) {
            return namesAreEquivalent(file.name, creation.name) && file.contentHash == local.contentHash;
        };
        for (const DriveFile& file : parts.store->children(creation.parent).files) {
            if (isThisOne(file)) return DiskItem::file(file);
        }
        // Landed, and then trashed or archived by another device, or
        // trashed with its folder (the host then sends it again into the
        // folder it made anew): sent again it would come back as a second
        // file.
        for (const DriveFile& file : parts.store->withdrawnChildren(creation.parent)) {
            if (!isThisOne(file)) continue;
            parts.logger.info("Fichier {} déjà créé, retiré du Cadrio depuis.", file.id);
            return DiskItem::file(file);
        }
    }
    const DriveFile file =
        parts.api->createFile(creation.name, creation.parent, local, report, stop);
    parts.store->upsert({}, std::span(&file, 1));
    parts.store->save();
    parts.logger.info("Fichier {} créé ({} octets).", file.id, local.size);
    return DiskItem::file(file);
}

}  // namespace

std::shared_ptr<fileprovider::Progress> createItem(const ItemChangeParts& parts, TaskGroup& tasks,
                                                   const fileprovider::Item& itemTemplate,
                                                   const std::optional<std::filesystem::path>& contents,
                                                   CreateItemOptions options, ItemChangeCompletion completion) {
    Creation creation{.name = itemTemplate.filename(),
                      .parent = std::nullopt,
                      .mayAlreadyExist = fileprovider::contains(options, CreateItemOptions::mayAlreadyExist),
                      .contents = contents};
    if (SyncNaming::isExcludedFromSync(creation.name)) {
        completion(nullptr, ItemFields::none, false, Error::excludedFromSync());
        return fileprovider::Progress::create();
    }
    const std::optional<ItemIdentifier> parent =
        ItemIdentifier::fromRawValue(itemTemplate.parentItemIdentifier().rawValue());
    if (!parent || !parent->isFolderOrRoot()) {
        completion(nullptr, ItemFields::none, false, Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    if (parent->kind() == ItemIdentifier::Kind::folder) creation.parent = parent->id();
    const ContentType type = itemTemplate.contentType();
    if (type.conforms(ContentType::symbolicLink())) {
        completion(nullptr, ItemFields::none, false,
                   Error::featureUnsupported("Les liens symboliques ne sont pas pris en charge par le Cadrio."));
        return fileprovider::Progress::create();
    }
    const bool isFolder = type.conforms(ContentType::directory()) || type.conforms(ContentType::folder());

    const auto progress = makeUploadProgress(contents);
    return startCancellableTask(
        tasks, progress, std::move(completion),
        [](const Complete& complete) { complete(nullptr, ItemFields::none, false, Error::userCancelled()); },
        [parts, creation = std::move(creation), isFolder, report = uploadProgressReporter(progress)](
            std::stop_token stop, const Complete& complete) {
            try {
                if (parts.restore) parts.restore->waitUntilFinished(stop);
                ItemPtr item = isFolder ? createFolder(parts, creation, stop)
                                        : createFile(parts, creation, report, stop);
                complete(std::move(item), ItemFields::none, false, std::nullopt);
            } catch (...) {
                if (stop.stop_requested()) return;  // the cancellation has answered
                parts.logger.error("Création impossible : {}", describeError(std::current_exception()));
                complete(nullptr, ItemFields::none, false, mapError(std::current_exception()));
            }
        });
}

}  // namespace cadrio
