#pragma once
// The plug-in's principal object: the host creates one per mounted domain
// and asks it for items, enumerators, contents, thumbnails and changes.
//
// Construction builds, at once, the authenticated drive client from the
// session the tray application left in the shared secret store, the drive
// API over it, and the item store of the domain (whose files are read on
// the constructing thread); the session itself is loaded by a background
// task, the first one queued. Requests to the drive made before that task
// is done wait for it (SessionRestore, at most kWaitLimit on the client's
// clock), so that they do not fail as not authenticated while a session is
// on its way. The plug-in never signs in by itself.
//
// Entry points may be called from any thread, several at once. Each
// asynchronous one queues one task on the extension's TaskGroup (a fixed
// number of threads) and answers exactly once. Destroying the extension
// stops and waits for every task, its enumerators' included; enumerators
// must not be used afterwards.
//
// Every failure handed to the host goes through mapError().

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "core/api/drive_api.hpp"
#include "core/http/api_client.hpp"
#include "fileprovider/creations_in_doubt.hpp"
#include "fileprovider/drive_listing.hpp"
#include "fileprovider/file_provider_enumerator.hpp"
#include "fileprovider/item_store.hpp"
#include "fileprovider/session_restore.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/fileprovider/domain.hpp"
#include "platform/fileprovider/host_context.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/log/logger.hpp"

namespace cadrio {

class FileProviderExtension final : public fileprovider::ReplicatedExtension {
public:
    /// What the extension works with, built by create() or by a test.
    struct Parts {
        std::shared_ptr<ApiClient> client;
        std::shared_ptr<const DriveAPI> api;  // over `client`
        std::shared_ptr<DriveListing> listing;  // the enumerators' view of `api`
        std::shared_ptr<ItemStore> store;
    };

    /// The extension as the host gets it: keychain-backed session stores
    /// ("zelvano.cadrio.session", "zelvano.cadrio.trusted-device" in the
    /// application group), the standard client configuration (the API base
    /// URL may come from CADRIO_API_BASE_URL for development), the libcurl
    /// transport, and the item store of `domain.identifier`. Throws
    /// std::invalid_argument (after logging it) when CADRIO_API_BASE_URL is
    /// plain http to a host that is not loopback.
    static std::unique_ptr<FileProviderExtension> create(fileprovider::Domain domain,
                                                         fileprovider::HostContext host = {});

    /// Starts the session-restoring task; logs through `logger`.
    FileProviderExtension(fileprovider::Domain domain, fileprovider::HostContext host, Parts parts,
                          log::Logger logger);
    /// Stops and waits for every task.
    ~FileProviderExtension() override;

    const fileprovider::Domain& domain() const noexcept { return domain_; }
    const fileprovider::HostContext& host() const noexcept { return host_; }
    const std::shared_ptr<ApiClient>& client() const noexcept { return parts_.client; }
    const std::shared_ptr<const DriveAPI>& api() const noexcept { return parts_.api; }
    const std::shared_ptr<ItemStore>& store() const noexcept { return parts_.store; }
    const std::shared_ptr<TaskGroup>& tasks() const noexcept { return tasks_; }
    const log::Logger& logger() const noexcept { return logger_; }

    /// Nothing: work in flight finishes and answers.
    void invalidate() override {}

    /// Answers from the item store only, never from the network: the root
    /// always, a file or folder once an enumeration brought it in, else "no
    /// such item". An identifier outside the grammar is answered at once,
    /// before this returns. The progress is not tied to the lookup.
    std::shared_ptr<fileprovider::Progress> item(const fileprovider::ItemIdentifier& identifier,
                                                 const fileprovider::Request& request,
                                                 ItemCompletion completion) override;

    /// The working-set enumerator, or that of a folder or the root. Throws
    /// fileprovider::ErrorException "no such item" for a file or anything
    /// that is no identifier.
    std::shared_ptr<fileprovider::Enumerator> enumerator(const fileprovider::ItemIdentifier& container,
                                                         const fileprovider::Request& request) override;

    /// The content of a file, downloaded from a fresh grant into the host's
    /// temporary directory (else the process's), with the file's record as
    /// the grant describes it (the store's stays as it is). A file archived
    /// since it was listed leaves the store and the domain: "no such item".
    /// Progress: 100 units, the bytes received. Cancelling stops the
    /// transfer and answers "user cancelled".
    std::shared_ptr<fileprovider::Progress> fetchContents(const fileprovider::ItemIdentifier& identifier,
                                                          const std::optional<fileprovider::ItemVersion>& requestedVersion,
                                                          const fileprovider::Request& request,
                                                          FetchContentsCompletion completion) override;

    /// A new folder or file on the drive, stored and answered. With
    /// "may already exist", a folder of that name, or a file of that name and
    /// content, already in the parent is answered instead. Names never
    /// synchronised are "excluded from sync", symbolic links "feature
    /// unsupported", a parent that is no folder "no such item".
    std::shared_ptr<fileprovider::Progress> createItem(fileprovider::ItemPtr itemTemplate, fileprovider::ItemFields fields,
                                                       const std::optional<std::filesystem::path>& contents,
                                                       fileprovider::CreateItemOptions options,
                                                       const fileprovider::Request& request,
                                                       ItemChangeCompletion completion) override;

    /// Carries out the changed name, parent and contents (in that order: a
    /// later step's failure leaves the earlier ones done). A content replaced
    /// on the server since `baseVersion` is kept as a conflict copy next to
    /// the file, recorded in the summary, and the host is asked to fetch the
    /// server's content again.
    std::shared_ptr<fileprovider::Progress> modifyItem(fileprovider::ItemPtr item,
                                                       const fileprovider::ItemVersion& baseVersion,
                                                       fileprovider::ItemFields changedFields,
                                                       const std::optional<std::filesystem::path>& contents,
                                                       fileprovider::ModifyItemOptions options,
                                                       const fileprovider::Request& request,
                                                       ItemChangeCompletion completion) override;

    /// Puts the file or folder in the drive's trash (a folder with all it
    /// holds, on the server's side) and forgets its own record; the records
    /// of a folder's descendants stay until a listing withdraws them. The
    /// root and what is no identifier are "no such item", answered at once.
    /// Without the recursive option a folder goes only when the drive's copy
    /// is empty, else the answer is ENOTEMPTY (POSIX domain) and nothing is
    /// trashed. The progress cannot cancel the request.
    std::shared_ptr<fileprovider::Progress> deleteItem(const fileprovider::ItemIdentifier& identifier,
                                                       const fileprovider::ItemVersion& baseVersion,
                                                       fileprovider::DeleteItemOptions options,
                                                       const fileprovider::Request& request,
                                                       DeleteCompletion completion) override;

    /// Each file's preview image as the drive keeps it, at most
    /// kThumbnailDownloads at a time, answered per identifier in the order
    /// they finish; anything without a usable preview (a folder, an unknown
    /// file, a failed download) gets no image and no error. One progress unit
    /// per identifier. Cancelling answers "user cancelled" and starts no more
    /// downloads; per-identifier answers stop with the final one.
    std::shared_ptr<fileprovider::Progress> fetchThumbnails(std::vector<fileprovider::ItemIdentifier> identifiers,
                                                            fileprovider::ThumbnailSize requestedSize,
                                                            PerThumbnailCompletion perThumbnailCompletion,
                                                            ThumbnailsCompletion completion) override;
    static constexpr std::size_t kThumbnailDownloads = 6;

    /// The size of the local file at `url` (symbolic links followed);
    /// absent for what is not a regular file. Throws
    /// std::filesystem::filesystem_error when its attributes cannot be read.
    static std::optional<std::int64_t> fileSize(const std::filesystem::path& url);

private:
    void restoreSessionInBackground();
    bool folderIsEmpty(std::int64_t folder, std::stop_token stop) const;
    /// What the store knows of the file that the deleting side, which last
    /// saw it at `seen` (an empty part: any), never saw: other contents, or
    /// another name or folder (another device moved or renamed it since).
    enum class UnseenChange { none, contents, place };
    UnseenChange unseenChange(std::int64_t file, const fileprovider::ItemVersion& seen) const;
    std::optional<fileprovider::ByteString> thumbnail(const fileprovider::ItemIdentifier& identifier,
                                                      std::stop_token stop) const;

    const fileprovider::Domain domain_;
    const fileprovider::HostContext host_;
    const Parts parts_;
    const log::Logger logger_;
    const std::shared_ptr<SessionRestore> restore_;
    const std::shared_ptr<CreationsInDoubt> creations_ = std::make_shared<CreationsInDoubt>();
    const std::shared_ptr<DriveListing> listing_;  // parts_.listing, held until the session is loaded
    const std::shared_ptr<TaskGroup> tasks_ = std::make_shared<TaskGroup>();
};

}  // namespace cadrio
