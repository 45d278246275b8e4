#include "fileprovider/item_creation.hpp"

#include <exception>
#include <system_error>
#include <utility>

#include "core/model/item_identifier.hpp"
#include "core/model/sync_naming.hpp"
#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/conflict_copy.hpp"
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

/// The one file of the folder under the creation's name when none holds its
/// bytes: the attempt whose answer was lost, edited since by another
/// device, or another device's file that took the name meanwhile. Which of
/// the two cannot be told; either way the bytes here meet it as a conflict,
/// where sent as a new file they would make two files of one name (and, in
/// the first case, one local file uploaded twice).
std::optional<DriveFile> nameTakenBy(const std::vector<DriveFile>& files, const std::string& name) {
    std::optional<DriveFile> taken;
    for (const DriveFile& file : files) {
        if (!namesAreEquivalent(file.name, name)) continue;
        if (taken) return std::nullopt;
        taken = file;
    }
    return taken;
}

FileAnswer createFile(const ItemChangeParts& parts, const Creation& creation, const DriveAPI::Progress& report,
                      std::stop_token stop) {
    const LocalContent local = localContent(creation.contents, creation.name);
    const ScratchFile scratch(creation.contents ? std::nullopt : std::optional(local.url));
    const CreationsInDoubt::Attempt attempt{creation.parent, creation.name, local.contentHash};
    if (creation.mayAlreadyExist) {
        const auto isThisOne = [&](const DriveFile& file) {
            return namesAreEquivalent(file.name, creation.name) && file.contentHash == local.contentHash;
        };
        const std::vector<DriveFile> files = parts.store->children(creation.parent).files;
        for (const DriveFile& file : files) {
            if (isThisOne(file)) return {file, false};
        }
        // Landed, and then trashed or archived by another device, or
        // trashed with its folder (the host then sends it again into the
        // folder it made anew): sent again it would come back as a second
        // file.
        for (const DriveFile& file : parts.store->withdrawnChildren(creation.parent)) {
            if (!isThisOne(file)) continue;
            parts.logger.info("Fichier {} déjà créé, retiré du Cadrio depuis.", file.id);
            return {file, false};
        }
        // Landed, and moved to another folder by another device: the host
        // shows it there, and the file here joins it.
        if (const std::optional<DriveFile> moved =
                parts.creations ? parts.creations->movedAway(attempt, *parts.store) : std::nullopt) {
            parts.logger.info("Fichier {} déjà créé, déplacé depuis par un autre appareil.", moved->id);
            return {*moved, false};
        }
        if (const std::optional<DriveFile> taken = nameTakenBy(files, creation.name)) {
            FileAnswer answer = keepConflictCopy(parts, creation.name, *taken, local, report, stop);
            parts.store->upsert({}, std::span(&answer.file, 1));
            parts.store->save();
            return answer;
        }
    } else if (parts.creations) {
        parts.creations->begin(attempt, *parts.store);
    }
    const DriveFile file =
        parts.api->createFile(creation.name, creation.parent, local, report, stop);
    if (parts.creations) parts.creations->answered(attempt);
    parts.store->upsert({}, std::span(&file, 1));
    parts.store->save();
    parts.logger.info("Fichier {} créé ({} octets).", file.id, local.size);
    return {file, false};
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
                if (isFolder) {
                    complete(createFolder(parts, creation, stop), ItemFields::none, false, std::nullopt);
                    return;
                }
                const FileAnswer answer = createFile(parts, creation, report, stop);
                complete(DiskItem::file(answer.file), ItemFields::none, answer.shouldFetchContent, std::nullopt);
            } catch (...) {
                if (stop.stop_requested()) return;  // the cancellation has answered
                parts.logger.error("Création impossible : {}", describeError(std::current_exception()));
                complete(nullptr, ItemFields::none, false, mapError(std::current_exception()));
            }
        });
}

}  // namespace cadrio
