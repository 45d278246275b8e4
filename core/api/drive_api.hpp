#pragma once
// The typed face of the drive's REST API: each operation is one exchange
// (uploads a short series of them) through the shared ApiClient, whose
// answers are decoded into wire DTOs and converted into drive records.
//
// Threads: DriveAPI holds nothing but its shared client, so every operation
// may run on any thread at the same time as any other; all serialisation
// happens inside the client. Callbacks (`Progress`) run on the calling
// thread.
//
// Errors: DriveError for everything the network, the server or a response
// can do wrong; CancellationError when `stop` fires; the platform's file
// errors (std::system_error / std::filesystem::filesystem_error) when a
// local file cannot be read.
//
// Cancellation: every operation takes a stop token; a stop ends the current
// exchange or back-off at once. An upload cancelled between init and
// completion still tells the server to abort (that request is sent without
// the stop token, so it is not swallowed by the very cancellation that
// caused it).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/http/api_client.hpp"
#include "core/model/drive_records.hpp"
#include "core/model/local_content.hpp"
#include "core/model/replace_precondition.hpp"

namespace cadrio {

class DriveAPI {
public:
    using LocalContent = cadrio::LocalContent;

    /// One finished part of a multipart upload, as the storage service
    /// acknowledged it (`etag` exactly as its "ETag" header, quotes included).
    struct UploadedPart {
        int number = 0;  // from 1
        std::string etag;

        bool operator==(const UploadedPart&) const = default;
    };

    /// Receives the number of content bytes sent so far (cumulative).
    using Progress = std::function<void(std::int64_t bytesSent)>;

    /// Contents of at most this many bytes travel in one request.
    static constexpr std::int64_t directUploadLimit = 16'777'216;
    static constexpr std::int64_t kStandardPartSize = 8'388'608;
    static constexpr std::int64_t kMaxParts = 10'000;
    /// Page size of file listings; one request returns the whole list.
    static constexpr std::int64_t kFileListingLimit = 100'000;

    /// 8 MiB, or size / 10,000 rounded up once 10,000 parts of 8 MiB would
    /// not hold `size` (+ 10,000 bytes of slack), so no upload needs more
    /// than 10,000 parts.
    static std::int64_t partSize(std::int64_t size);

    /// Throws std::invalid_argument for a null client.
    explicit DriveAPI(std::shared_ptr<ApiClient> client);

    ApiClient& client() const noexcept { return *client_; }

    // Listing ---------------------------------------------------------------
    /// The change page after `since`; nothing is filtered. An expired cursor
    /// (410) is DriveError::cursorExpired.
    DriveChanges changes(std::int64_t since, std::stop_token stop = {}) const;
    /// Subfolders of `in` (absent: the server's default, the root), trashed
    /// ones dropped, in the server's order.
    std::vector<DriveFolder> folders(std::optional<std::int64_t> in,
                                     std::stop_token stop = {}) const;
    /// Files of `in` (absent: the root), trashed and non-standard ones
    /// dropped, in the server's order.
    std::vector<DriveFile> files(std::optional<std::int64_t> in, std::stop_token stop = {}) const;
    DriveQuota quota(std::stop_token stop = {}) const;

    // Grants ------------------------------------------------------------------
    /// A download grant; DriveError::archived without any request when the
    /// file is not in standard storage.
    DriveDownload contentURL(const DriveFile& file, std::stop_token stop = {}) const;
    /// The presigned address of the file's preferred thumbnail; absent (and
    /// nothing sent) for a non-standard file or one without thumbnails. An
    /// answer that is not an http(s) URL is DriveError::decoding("URL de
    /// miniature invalide").
    std::optional<std::string> thumbnailURL(const DriveFile& file, std::stop_token stop = {}) const;

    // Metadata ------------------------------------------------------------------
    /// The new folder's id; an absent parent is the root.
    std::int64_t createFolder(const std::string& name, std::optional<std::int64_t> parentID,
                              std::stop_token stop = {}) const;
    void renameFile(std::int64_t id, const std::string& to, std::stop_token stop = {}) const;
    /// Sends only what is given: `name`, and/or `parentID` when present at
    /// its outer level (an empty inner value moves to the root). With
    /// neither, nothing is sent.
    void updateFolder(std::int64_t id, std::optional<std::string> name,
                      std::optional<std::optional<std::int64_t>> parentID,
                      std::stop_token stop = {}) const;
    /// Nothing is sent when both lists are empty; an absent destination is
    /// the root.
    void move(const std::vector<std::int64_t>& fileIDs, const std::vector<std::int64_t>& folderIDs,
              std::optional<std::int64_t> to, std::stop_token stop = {}) const;
    /// Moves to the drive's trash; nothing is sent when both lists are empty.
    void trash(const std::vector<std::int64_t>& fileIDs, const std::vector<std::int64_t>& folderIDs,
               std::stop_token stop = {}) const;

    // Uploads -----------------------------------------------------------------
    /// Creates a file from `content`: one request up to directUploadLimit
    /// (or when the server refuses that as too large, falling back to
    /// parts), parts through presigned storage URLs above. The returned
    /// record is refreshed from a download grant when one can be had.
    /// A failed part loop aborts the server upload. A completion whose
    /// answer was lost is sent again; when that copy is refused because the
    /// first one went through (409 "key_in_use"), the file the parent folder
    /// now holds under the upload's storage key is returned instead.
    DriveFile createFile(const std::string& name, std::optional<std::int64_t> parentID,
                         const LocalContent& content, const Progress& progress = {},
                         std::stop_token stop = {}) const;
    /// Replaces the content of `file` under `precondition`; a change made
    /// elsewhere comes back as DriveError::versionConflict (or archived,
    /// reinforced, ...). A failed part loop or completion aborts the server
    /// upload; a completion refused as "key_in_use" after its answer was lost
    /// returns the file as listed in its folder, when it carries the upload's
    /// storage key.
    DriveFile replaceContent(const DriveFile& file, const LocalContent& with,
                             const ReplacePrecondition& precondition, const Progress& progress = {},
                             std::stop_token stop = {}) const;

private:
    std::shared_ptr<ApiClient> client_;
};

}  // namespace cadrio
