// File creation and content replacement: one request for small contents,
// a multipart upload through presigned storage URLs for large ones.

#include <chrono>
#include <limits>

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

bool isPayloadTooLarge(const DriveError& error) {
    return error.kind() == DriveError::Kind::payloadTooLarge;
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
            const HttpResponse response = client_->request(
                "/drive/upload/file", "POST", multipartBody(std::move(form)), false, stop);
            const auto answer = ApiClient::decode<UploadResponseDTO>(response.body);
            if (progress) progress(content.size);
            created =
                createdFile(answer, name, parentID, content, std::chrono::system_clock::now());
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
        const auto answer = client_->post<UploadResponseDTO>(
            "/drive/upload/multipart/complete",
            createCompleteBody(upload, parts, name, parentID, content), stop);
        created = createdFile(answer, name, parentID, content, std::chrono::system_clock::now(),
                              upload.s3Key);
        created.thumbnailPath.reset();
    }
    // The file exists on the server now: whatever happens to the grant
    // request, the caller must learn about the file.
    try {
        return created.refreshed(contentURL(created, stop), std::nullopt);
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
                client_->request(contentPath, "PUT", multipartBody(std::move(form)), false, stop);
            const auto answer = ApiClient::decode<ReplaceResponseDTO>(response.body);
            if (progress) progress(with.size);
            return mergedReplacement(file, answer, std::chrono::system_clock::now());
        } catch (const DriveError& error) {
            if (!isPayloadTooLarge(error)) throw;
        }
    }
    const MultipartUploadState upload = startMultipartUpload(
        *client_, multipartInitBody(file.name, file.parentFolderID, with), with.size, stop);
    const auto answer = abortingOnFailure(*client_, upload, [&] {
        const auto parts = uploadParts(*client_, upload, with, progress, stop);
        return client_->post<ReplaceResponseDTO>(
            contentPath + "/complete", replaceCompleteBody(upload, parts, with, precondition),
            stop);
    });
    return mergedReplacement(file, answer, std::chrono::system_clock::now());
}

}  // namespace cadrio
