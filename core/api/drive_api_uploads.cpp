// File creation and content replacement: one request for small contents,
// a multipart upload through presigned storage URLs for large ones.

#include <chrono>
#include <limits>
#include <optional>

#include "core/api/drive_api.hpp"
#include "core/api/multipart_upload.hpp"
#include "core/api/upload_requests.hpp"
#include "core/api/upload_results.hpp"
#include "core/support/atomic_file.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

constexpr std::int64_t kPartCountLimitBytes = DriveAPI::kStandardPartSize * DriveAPI::kMaxParts;
/// Room left below the limit before the part size starts to grow.
constexpr std::int64_t kPartCountSlackBytes = 10'000;

std::string readContent(const LocalContent& content) {
    return readWholeFile(content.url, std::numeric_limits<std::size_t>::max());
}

/// The form's body moves into the request instead of being copied.
RequestBody multipartBody(MultipartForm&& form) {
    std::string contentType = "multipart/form-data; boundary=" + form.boundary();
    return {form.takeBody(), std::move(contentType)};
}

/// True when the grant describes the bytes just uploaded: another device
/// may have replaced them in the meantime, and their upload time would
/// then name a version these bytes are not.
bool describesUpload(const DriveDownload& grant, const LocalContent& content) {
    if (grant.fileSize && *grant.fileSize != content.size) return false;
    return !grant.contentHash || content.contentHash.empty() || *grant.contentHash == content.contentHash;
}

bool isPayloadTooLarge(const DriveError& error) {
    return error.kind() == DriveError::Kind::payloadTooLarge;
}

/// A completion refused because its storage key is taken: 409 "key_in_use"
/// is the only 409 the status mapping leaves as `http`.
bool isKeyInUse(const DriveError& error) {
    return error.kind() == DriveError::Kind::http && error.status() == 409;
}

/// After a completion refused with "key_in_use": the file the server now
/// keeps under the upload's storage key in `folder`, which an earlier copy
/// of this completion (whose answer was lost) made; restricted to `id` for
/// a replacement. Absent when there is none or the listing fails, so that
/// the caller reports the refusal itself.
std::optional<DriveFile> completedEarlier(const DriveAPI& api, std::optional<std::int64_t> folder,
                                          const std::string& storageKey,
                                          std::optional<std::int64_t> id, std::stop_token stop) {
    const auto listed = wireParentID(folder) == 0 ? std::nullopt : folder;
    try {
        for (DriveFile& file : api.files(listed, stop)) {
            if (file.storageKey == storageKey && (!id || file.id == *id)) return std::move(file);
        }
    } catch (const DriveError&) {
    }
    return std::nullopt;
}

}  // namespace

std::int64_t DriveAPI::partSize(std::int64_t size) {
    if (size <= kPartCountLimitBytes - kPartCountSlackBytes) return kStandardPartSize;
    // Rounded up without adding first, which could overflow near INT64_MAX.
    return size / kMaxParts + (size % kMaxParts != 0 ? 1 : 0);
}

DriveFile DriveAPI::createFile(const std::string& name, std::optional<std::int64_t> parentID,
                               const LocalContent& content, const Progress& progress,
                               std::stop_token stop) const {
    DriveFile created;
    bool sentInOneRequest = false;
    if (content.size <= directUploadLimit) {
        try {
            MultipartForm form = singleUploadForm(name, parentID, content, readContent(content));
            const HttpResponse response =
                client_->request("/drive/upload/file", "POST", multipartBody(std::move(form)),
                                 Idempotency::notIdempotent, stop);
            const auto answer = ApiClient::decode<UploadResponseDTO>(response.body);
            if (progress) progress(content.size);
            created = createdFile(answer, name, parentID, content, client_->clock().wallNow());
            sentInOneRequest = true;
        } catch (const DriveError& error) {
            if (!isPayloadTooLarge(error)) throw;
        }
    }
    if (!sentInOneRequest) {
        const MultipartUploadState upload = startMultipartUpload(
            *client_, multipartInitBody(name, parentID, content), content.size, stop);
        const auto parts = abortingOnFailure(*client_, upload, [&] {
            return uploadParts(*client_, upload, content, progress, stop);
        });
        try {
            const auto answer = client_->post<UploadResponseDTO>(
                "/drive/upload/multipart/complete",
                createCompleteBody(upload, parts, name, parentID, content),
                Idempotency::refusedWhenRepeated, stop);
            created = createdFile(answer, name, parentID, content, client_->clock().wallNow(),
                                  upload.s3Key);
            created.thumbnailPath.reset();
        } catch (const DriveError& error) {
            auto earlier = isKeyInUse(error)
                               ? completedEarlier(*this, parentID, upload.s3Key, std::nullopt, stop)
                               : std::nullopt;
            if (!earlier) throw;
            created = std::move(*earlier);
        }
    }
    // The file exists on the server now: whatever happens to the grant
    // request, the caller must learn about the file.
    try {
        const DriveDownload grant = contentURL(created, stop);
        if (describesUpload(grant, content)) return created.refreshed(grant, std::nullopt);
    } catch (const DriveError&) {
    } catch (const CancellationError&) {
    }
    return created;
}

DriveFile DriveAPI::replaceContent(const DriveFile& file, const LocalContent& with,
                                   const ReplacePrecondition& precondition,
                                   const Progress& progress, std::stop_token stop) const {
    const std::string contentPath = "/drive/files/" + std::to_string(file.id) + "/content";
    if (with.size <= directUploadLimit) {
        try {
            MultipartForm form = replacementForm(file, with, precondition, readContent(with));
            const HttpResponse response =
                client_->request(contentPath, "PUT", multipartBody(std::move(form)),
                                 Idempotency::notIdempotent, stop);
            const auto answer = ApiClient::decode<ReplaceResponseDTO>(response.body);
            if (progress) progress(with.size);
            return mergedReplacement(file, answer, client_->clock().wallNow());
        } catch (const DriveError& error) {
            if (!isPayloadTooLarge(error)) throw;
        }
    }
    const MultipartUploadState upload = startMultipartUpload(
        *client_, multipartInitBody(file.name, file.parentFolderID, with), with.size, stop);
    const auto parts = abortingOnFailure(
        *client_, upload, [&] { return uploadParts(*client_, upload, with, progress, stop); });
    ReplaceResponseDTO answer;
    try {
        answer = client_->post<ReplaceResponseDTO>(
            contentPath + "/complete", replaceCompleteBody(upload, parts, with, precondition),
            Idempotency::refusedWhenRepeated, stop);
    } catch (const DriveError& error) {
        if (isKeyInUse(error)) {
            auto earlier = completedEarlier(*this, file.parentFolderID, upload.s3Key, file.id, stop);
            if (earlier) return std::move(*earlier);
        }
        abortMultipartUpload(*client_, upload);
        throw;
    } catch (...) {
        abortMultipartUpload(*client_, upload);
        throw;
    }
    return mergedReplacement(file, answer, client_->clock().wallNow());
}

}  // namespace cadrio
