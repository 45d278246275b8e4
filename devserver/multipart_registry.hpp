#pragma once
// Multipart uploads in progress: opened by the init call, filled by part
// PUTs to presigned storage URLs, then completed or aborted. Uploads are not
// kept across restarts.
//
// Every part is written straight into one object file per upload, at the
// offset (number - 1) * part size, so that the usual completion (every part numbered 1 to N,
// all but the last of the full part size) only has to hash that file and
// move it into place. Parts of other sizes, or with gaps, are still
// accepted: their completion copies the listed regions into a new object.
//
// Thread safety: one mutex guards the table and is held for table access
// only, never while a part is received or an object hashed. A part being
// received is not recorded (a re-sent part forgets the earlier one when it
// starts) and blocks the completion; a completion claims its upload, so a
// second completion of the same key, or a part PUT during the completion,
// is refused with 409 "key_in_use" instead of racing it.

#include "devserver/blob_store.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

    /// Where part `number` goes: the upload's object file, the offset and
    /// the most bytes it may have.
    struct PartSlot {
        std::filesystem::path objectFile;
        std::int64_t offset = 0;
        std::int64_t limit = 0;
    };
    /// Starts receiving part `number`: forgets an earlier copy of it. 404
    /// for an unknown upload, 409 while it completes. Every startPart is
    /// followed by one finishPart.
    PartSlot startPart(const std::string& uploadId, int number);
    /// Records the part received (`etag` empty: it failed). 404 when the
    /// upload went away meanwhile.
    void finishPart(const std::string& uploadId, int number, const std::string& etag, std::int64_t size);

    struct Claim {
        MultipartUpload upload;
        std::filesystem::path objectFile;
        /// True when the listed parts are 1..N and all but the last have the
        /// full part size: the object file, cut to their total, is the content.
        bool inPlace = false;
        std::vector<std::pair<std::int64_t, std::int64_t>> regions;  // (offset, size), in list order
    };

    /// Claims the upload for completion. 404 unknown upload; 409
    /// "key_in_use" when the key is already completed or being completed,
    /// or a part is still arriving; 400 when the list is empty of a part,
    /// not ascending, or names a part not received with that ETag.
    Claim claim(const std::string& account, const std::string& storageKey, const std::string& uploadId,
                const std::vector<UploadedPartRef>& parts);
    /// The completion failed: the upload may be completed again or aborted.
    void release(const std::string& uploadId);
    /// The completion succeeded: the upload and its files go away and its
    /// key counts as used.
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
