#include "fileprovider/item_modification.hpp"

#include <exception>
#include <string>
#include <utility>

#include "core/model/content_version.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/item_identifier.hpp"
#include "core/model/sync_naming.hpp"
#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/conflict_copy.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/local_content.hpp"
#include "fileprovider/upload_progress.hpp"

namespace cadrio {

using fileprovider::Error;
using fileprovider::ErrorException;
using fileprovider::ItemFields;
using fileprovider::ItemPtr;

namespace {

using Complete = GuardedCompletion<ItemPtr, ItemFields, bool, std::optional<Error>>;

/// What the host said of the item, read once before the task.
struct Change {
    ItemIdentifier id;
    std::string name;
    std::optional<ItemIdentifier> parent;  // absent: no folder or root
    std::optional<std::int64_t> documentSize;
    std::string baseVersion;
    ItemFields fields = ItemFields::none;
    std::optional<std::filesystem::path> contents;

    bool changed(ItemFields field) const { return fileprovider::contains(fields, field); }
    /// The new parent's id (absent: the root) when the parent field changed
    /// to a folder or the root.
    std::optional<std::optional<std::int64_t>> newParent() const {
        if (!changed(ItemFields::parentItemIdentifier) || !parent || !parent->isFolderOrRoot()) return std::nullopt;
        return parent->kind() == ItemIdentifier::Kind::folder ? std::optional(parent->id()) : std::nullopt;
    }
};

void refuseExcluded(const std::string& name) {
    if (SyncNaming::isExcludedFromSync(name)) throw ErrorException(Error::excludedFromSync());
}

ItemPtr modifyFolder(const ItemChangeParts& parts, const Change& change, std::stop_token stop) {
    const Date now = parts.api->client().clock().wallNow();
    const std::optional<DriveFolder> known = parts.store->folder(change.id.id());
    const DriveFolder base = known ? *known
                                   : DriveFolder{.id = change.id.id(),
                                                 .parentFolderID = change.newParent().value_or(std::nullopt),
                                                 .name = change.name,
                                                 .modifiedAt = now,
                                                 .isTrashed = false};
    std::optional<std::string> name;
    if (change.changed(ItemFields::filename) && (!known || change.name != base.name)) name = change.name;
    std::optional<std::optional<std::int64_t>> parent = change.newParent();
    if (parent && *parent == base.parentFolderID) parent.reset();
    if (!name && !parent) return DiskItem::folder(base);

    if (name) refuseExcluded(*name);
    parts.api->updateFolder(base.id, name, parent, stop);
    const DriveFolder updated{.id = base.id,
                              .parentFolderID = parent.value_or(base.parentFolderID),
                              .name = name.value_or(base.name),
                              .modifiedAt = now,
                              .isTrashed = false};
    parts.store->upsert(std::span(&updated, 1), {});
    parts.store->save();
    parts.logger.info("Dossier {} renommé ou déplacé.", updated.id);
    return DiskItem::folder(updated);
}

/// The store's record, or one built from the item and completed from a
/// download grant so that it carries the server's hash and upload time.
std::pair<DriveFile, bool> baseFile(const ItemChangeParts& parts, const Change& change, std::stop_token stop) {
    if (std::optional<DriveFile> known = parts.store->file(change.id.id())) return {std::move(*known), true};
    const DriveFile provisional{.id = change.id.id(),
                                .parentFolderID = change.parent && change.parent->kind() == ItemIdentifier::Kind::folder
                                                      ? std::optional(change.parent->id())
                                                      : std::nullopt,
                                .name = change.name,
                                .storageKey = {},
                                .size = change.documentSize.value_or(0),
                                .contentHash = std::nullopt,
                                .modifiedAt = parts.api->client().clock().wallNow(),
                                .isTrashed = false,
                                .storageClass = StorageClass::standard,
                                .thumbnailPath = std::nullopt,
                                .uploadTimestamp = std::nullopt};
    return {provisional.refreshed(parts.api->contentURL(provisional, stop), std::nullopt), false};
}

/// The file the drive withdrew lately (trashed or archived by another
/// device) when it already holds the bytes to send: an earlier attempt
/// whose answer was lost landed before the withdrawal, which wins.
std::optional<DriveFile> landedBeforeWithdrawal(const ItemChangeParts& parts, const Change& change) {
    if (!change.changed(ItemFields::contents) || !change.contents || parts.store->file(change.id.id())) return std::nullopt;
    std::optional<DriveFile> gone = parts.store->withdrawnFile(change.id.id());
    if (!gone || !gone->contentHash || gone->contentHash != localContent(change.contents, change.name).contentHash)
        return std::nullopt;
    parts.logger.info("Contenu du fichier {} déjà envoyé, retiré du Cadrio depuis.", gone->id);
    return gone;
}

ItemPtr modifyFile(const ItemChangeParts& parts, const Change& change, const DriveAPI::Progress& report,
                   bool& shouldFetchContent, std::stop_token stop) {
    if (std::optional<DriveFile> gone = landedBeforeWithdrawal(parts, change)) return DiskItem::file(*gone);
    auto [base, known] = baseFile(parts, change, stop);
    const DriveFile before = base;
    bool moved = false, renamed = false;
    if (const auto parent = change.newParent(); parent && (!known || *parent != base.parentFolderID)) {
        parts.api->move({base.id}, {}, *parent, stop);
        base = base.with(base.name, *parent);
        moved = true;
    }
    if (change.changed(ItemFields::filename) && (!known || change.name != base.name)) {
        refuseExcluded(change.name);
        parts.api->renameFile(base.id, change.name, stop);
        base = base.with(change.name, base.parentFolderID);
        renamed = true;
    }
    if (change.changed(ItemFields::contents) && change.contents) {
        const LocalContent local = localContent(change.contents, change.name);
        std::optional<DriveFile> replaced;
        // Bytes with no version of this file under them were written on
        // bytes that went into a conflict copy when the host's creation found
        // the name taken: sent unconditionally they would replace the other
        // device's file.
        if (!change.baseVersion.empty()) {
            try {
                replaced = parts.api->replaceContent(base, local, ContentVersion::precondition(change.baseVersion),
                                                     report, stop);
            } catch (const DriveError& error) {
                if (error.kind() != DriveError::Kind::versionConflict) throw;
            }
        }
        if (replaced) {
            base = std::move(*replaced);
            parts.logger.info("Contenu du fichier {} remplacé ({} octets).", base.id, local.size);
        } else {
            FileAnswer answer = keepConflictCopy(parts, change.name, base, local, report, stop);
            base = std::move(answer.file);
            shouldFetchContent = answer.shouldFetchContent;
        }
    }
    // A change page may have brought another device's move or rename while
    // the requests went: what this change did not touch keeps it.
    if (const std::optional<DriveFile> now = parts.store->file(base.id)) {
        if (!moved && now->parentFolderID != before.parentFolderID) base.parentFolderID = now->parentFolderID;
        if (!renamed && now->name != before.name) base.name = now->name;
    }
    parts.store->upsert({}, std::span(&base, 1));
    parts.store->save();
    return DiskItem::file(base);
}

}  // namespace

std::shared_ptr<fileprovider::Progress> modifyItem(const ItemChangeParts& parts, TaskGroup& tasks,
                                                   const fileprovider::Item& item,
                                                   const fileprovider::ItemVersion& baseVersion,
                                                   ItemFields changedFields,
                                                   const std::optional<std::filesystem::path>& contents,
                                                   ItemChangeCompletion completion) {
    const std::optional<ItemIdentifier> id = ItemIdentifier::fromRawValue(item.itemIdentifier().rawValue());
    if (!id) {
        completion(nullptr, ItemFields::none, false, Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    if (id->kind() == ItemIdentifier::Kind::root) {
        completion(DiskItem::root(), ItemFields::none, false, std::nullopt);
        return fileprovider::Progress::create();
    }
    Change change{.id = *id,
                  .name = item.filename(),
                  .parent = ItemIdentifier::fromRawValue(item.parentItemIdentifier().rawValue()),
                  .documentSize = item.documentSize(),
                  .baseVersion = baseVersion.contentVersion,
                  .fields = changedFields,
                  .contents = contents};

    const auto progress = makeUploadProgress(contents);
    return startCancellableTask(
        tasks, progress, std::move(completion),
        [](const Complete& complete) { complete(nullptr, ItemFields::none, false, Error::userCancelled()); },
        [parts, change = std::move(change), report = uploadProgressReporter(progress)](std::stop_token stop,
                                                                                      const Complete& complete) {
            try {
                if (parts.restore) parts.restore->waitUntilFinished(stop);
                bool shouldFetchContent = false;
                ItemPtr answer = change.id.kind() == ItemIdentifier::Kind::folder
                                     ? modifyFolder(parts, change, stop)
                                     : modifyFile(parts, change, report, shouldFetchContent, stop);
                complete(std::move(answer), ItemFields::none, shouldFetchContent, std::nullopt);
            } catch (...) {
                if (stop.stop_requested()) return;  // the cancellation has answered
                parts.logger.error("Modification de {} impossible : {}", change.id.rawValue(),
                                   describeError(std::current_exception()));
                complete(nullptr, ItemFields::none, false, mapError(std::current_exception()));
            }
        });
}

}  // namespace cadrio
