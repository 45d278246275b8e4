#pragma once
// Multipart uploads in progress: opened by the init call, filled by part
// PUTs to presigned storage URLs (one file per part in a private staging
// directory), then completed (parts checked and handed over for assembly)
// or aborted. Uploads are not kept across restarts.
//
// Thread safety: one mutex guards the table; it is held for table access
// and for the rename that puts a received part in place, never while a
// body is received or parts are assembled. A completion claims its upload
// first, so a second completion of the same key, or a part PUT during the
// completion, is refused with 409 "key_in_use" instead of racing it.

#include "devserver/blob_store.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace cadrio::devserver {

struct UploadedPartRef {
    int number = 0;
    std::string etag;
};

struct MultipartUpload {
    std::string uploadId;
    std::string storageKey;
    std::string account;
    std::string fileName;
    std::string contentType;
    std::int64_t fileSize = 0;
    std::int64_t folderId = 0;
    std::int64_t partSize = 0;
};

class MultipartRegistry {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr int kMaxParts = 10000;
    static constexpr std::int64_t kDefaultPartSize = 8 * 1024 * 1024;
    /// Uploads neither completed nor aborted are forgotten after this long.
    static constexpr std::chrono::hours kAbandonedAfter{24};

    MultipartRegistry(const BlobStore& blobs, Clock clock);
    ~MultipartRegistry();

    /// 8 MiB, or the size spread over 10,000 parts when that is larger.
    static std::int64_t partSizeFor(std::int64_t fileSize);

    MultipartUpload begin(const std::string& account, const std::string& fileName, std::int64_t fileSize,
                          std::int64_t folderId, const std::string& contentType);
    /// The upload of `account` with this key and id; 404 otherwise.
    MultipartUpload find(const std::string& account, const std::string& storageKey,
                         const std::string& uploadId) const;
    /// Largest part accepted for the upload; 404 for an unknown upload.
    std::int64_t partLimit(const std::string& uploadId) const;
    /// Puts a received part file in place as part `number` (replacing an
    /// earlier one). 404 when the upload is gone, 409 while it completes.
    void storePart(const std::string& uploadId, int number, const std::filesystem::path& received,
                   const std::string& etag, std::int64_t size);
    /// A staging file name for receiving a part of this upload.
    std::filesystem::path receivingPath(const std::string& uploadId) const;

    struct Claim {
        MultipartUpload upload;
        std::vector<std::filesystem::path> partFiles;  // in the order of the list
    };

    /// Claims the upload for completion and returns its part files in order.
    /// 404 unknown upload; 409 "key_in_use" when the key is already
    /// completed or being completed; 400 when the list is not ascending or
    /// names a part that was not received with that ETag.
    Claim claim(const std::string& account, const std::string& storageKey,
                                             const std::string& uploadId,
                                             const std::vector<UploadedPartRef>& parts);
    /// The completion failed: the upload may be completed again or aborted.
    void release(const std::string& uploadId);
    /// The completion succeeded: the upload and its part files go away and
    /// its key counts as used.
    void finish(const std::string& uploadId);
    /// 404 unknown, 409 while completing.
    void abort(const std::string& account, const std::string& storageKey, const std::string& uploadId);
    void clear();

private:
    struct Entry;
    struct State;
    std::unique_ptr<State> state_;
    const BlobStore& blobs_;
    Clock clock_;
};

}  // namespace cadrio::devserver
