#include "fileprovider/file_provider_extension.hpp"

#include <exception>
#include <system_error>

#include "fileprovider/disk_item.hpp"
#include "fileprovider/local_content.hpp"
#include "fileprovider/error_mapping.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/progress.hpp"

namespace cadrio {

using fileprovider::Error;
using fileprovider::ErrorException;
using fileprovider::Progress;

namespace {

/// The enumerators' listing, each request held until the session is loaded.
class SessionAwaitingListing final : public DriveListing {
public:
    SessionAwaitingListing(std::shared_ptr<DriveListing> listing, std::shared_ptr<const SessionRestore> restore)
        : listing_(std::move(listing)), restore_(std::move(restore)) {}

    DriveChanges changes(std::int64_t since, std::stop_token stop) override {
        restore_->waitUntilFinished(stop);
        return listing_->changes(since, stop);
    }
    std::vector<DriveFolder> folders(std::optional<std::int64_t> in, std::stop_token stop) override {
        restore_->waitUntilFinished(stop);
        return listing_->folders(in, stop);
    }
    std::vector<DriveFile> files(std::optional<std::int64_t> in, std::stop_token stop) override {
        restore_->waitUntilFinished(stop);
        return listing_->files(in, stop);
    }

private:
    const std::shared_ptr<DriveListing> listing_;
    const std::shared_ptr<const SessionRestore> restore_;
};

}  // namespace

FileProviderExtension::FileProviderExtension(fileprovider::Domain domain, fileprovider::HostContext host, Parts parts,
                                             log::Logger logger)
    : domain_(std::move(domain)),
      host_(std::move(host)),
      parts_(std::move(parts)),
      logger_(std::move(logger)),
      restore_(std::make_shared<SessionRestore>(parts_.client->clock())),
      listing_(std::make_shared<SessionAwaitingListing>(parts_.listing, restore_)) {
    restoreSessionInBackground();
}

FileProviderExtension::~FileProviderExtension() { tasks_->shutdown(); }

void FileProviderExtension::restoreSessionInBackground() {
    // The first task queued, hence the first to start: no request can sit
    // on the pool's threads ahead of it while waiting for it.
    tasks_->start([client = parts_.client, restore = restore_, logger = logger_](std::stop_token) {
        try {
            if (!client->restoreSession()) {
                logger.error("Aucune session dans le trousseau partagé : le domaine restera vide.");
            }
        } catch (...) {
            logger.error("Session illisible : {}", describeError(std::current_exception()));
        }
        restore->finished();
    });
}

std::shared_ptr<Progress> FileProviderExtension::item(const fileprovider::ItemIdentifier& identifier,
                                                      const fileprovider::Request&, ItemCompletion completion) {
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(identifier.rawValue());
    if (!parsed) {
        completion(nullptr, Error::noSuchItem());
        return Progress::create();
    }
    tasks_->start([store = parts_.store, id = *parsed, completion = std::move(completion)](std::stop_token) {
        fileprovider::ItemPtr item;
        switch (id.kind()) {
            case ItemIdentifier::Kind::root:
                item = DiskItem::root();
                break;
            case ItemIdentifier::Kind::folder:
                if (auto folder = store->folder(id.id())) item = DiskItem::folder(std::move(*folder));
                break;
            case ItemIdentifier::Kind::file:
                if (auto file = store->file(id.id())) item = DiskItem::file(std::move(*file));
                break;
        }
        if (item) {
            completion(std::move(item), std::nullopt);
        } else {
            completion(nullptr, Error::noSuchItem());
        }
    });
    return Progress::create();
}

std::shared_ptr<fileprovider::Enumerator> FileProviderExtension::enumerator(
    const fileprovider::ItemIdentifier& container, const fileprovider::Request&) {
    FileProviderEnumerator::Context context{listing_, parts_.store, tasks_, logger_};
    if (container.isWorkingSet()) {
        return std::make_shared<FileProviderEnumerator>(ItemIdentifier::root(), true, std::move(context));
    }
    const std::optional<ItemIdentifier> parsed = ItemIdentifier::fromRawValue(container.rawValue());
    if (!parsed || !parsed->isFolderOrRoot()) throw ErrorException(Error::noSuchItem());
    return std::make_shared<FileProviderEnumerator>(*parsed, false, std::move(context));
}

std::optional<std::int64_t> FileProviderExtension::fileSize(const std::filesystem::path& url) {
    return localFileSize(url);
}

}  // namespace cadrio
