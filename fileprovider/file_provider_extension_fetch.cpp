// Contents: a grant, then the download into the host's scratch directory.

#include <exception>

#include "fileprovider/cancellable_task.hpp"
#include "fileprovider/content_download.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/error_mapping.hpp"
#include "fileprovider/file_provider_extension.hpp"

namespace cadrio {

using fileprovider::Error;

namespace {

bool isArchived(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const DriveError& drive) {
        return drive.kind() == DriveError::Kind::archived;
    } catch (...) {
        return false;
    }
}

}  // namespace

std::shared_ptr<fileprovider::Progress> FileProviderExtension::fetchContents(
    const fileprovider::ItemIdentifier& identifier, const std::optional<fileprovider::ItemVersion>&,
    const fileprovider::Request&, FetchContentsCompletion completion) {
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed || parsed->kind() != ItemIdentifier::Kind::file) {
        completion(std::nullopt, nullptr, Error::noSuchItem());
        return fileprovider::Progress::create();
    }
    const std::filesystem::path directory =
        host_.temporaryDirectory.value_or(std::filesystem::temp_directory_path());
    auto progress = fileprovider::Progress::create(100);
    return startCancellableTask(
        *tasks_, progress, std::move(completion),
        [](const auto& complete) { complete(std::nullopt, nullptr, Error::userCancelled()); },
        [this, id = parsed->id(), directory, progress](std::stop_token stop, const auto& complete) {
            const std::optional<DriveFile> file = parts_.store->file(id);
            if (!file) {
                complete(std::nullopt, nullptr, Error::noSuchItem());
                return;
            }
            try {
                restore_->waitUntilFinished(stop);
                const DriveDownload grant = parts_.api->contentURL(*file, stop);
                const DownloadedContent content =
                    downloadContent(grant.url, directory, *parts_.client, attachDownloadProgress(*progress), stop);
                if (grant.fileSize && *grant.fileSize != content.bytes) {
                    logger_.info("Fichier {} : {} octets reçus, {} annoncés par la base.", id, content.bytes,
                                 *grant.fileSize);
                }
                logger_.debug("Fichier {} matérialisé ({} octets).", id, content.bytes);
                complete(content.path, DiskItem::file(file->refreshed(grant, content.bytes)), std::nullopt);
            } catch (...) {
                const std::exception_ptr error = std::current_exception();
                if (isArchived(error)) {
                    logger_.info("Fichier {} archivé entre-temps : retiré du domaine.", id);
                    parts_.store->removeFile(id);
                    parts_.store->save();
                    complete(std::nullopt, nullptr, Error::noSuchItem());
                } else if (stop.stop_requested()) {
                    // The host's cancellation has answered; the extension
                    // going away has not, and this answer is then the one.
                    complete(std::nullopt, nullptr, Error::userCancelled());
                } else {
                    logger_.error("Matérialisation du fichier {} impossible : {}", id, describeError(error));
                    complete(std::nullopt, nullptr, mapError(error));
                }
            }
        });
}

}  // namespace cadrio
