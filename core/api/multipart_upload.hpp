#pragma once
// The steps of a multipart upload that both file creation and content
// replacement share: opening it on the server, sending the parts to
// presigned storage URLs one at a time, and aborting it.
//
// Threads: the functions run on the calling thread; `progress` is called
// there after each part. They keep no state between calls.

#include <stop_token>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/api/drive_api.hpp"
#include "core/api/upload_requests.hpp"

namespace cadrio {

/// Request time-out of one part transfer (ordinary API calls use the
/// configured one).
inline constexpr double kPartTransferTimeoutSeconds = 300;

/// POSTs `initBody` to the init endpoint (not idempotent: each call opens an
/// upload). The part size is ours,
/// computed from `contentSize`; a size proposed by the server is ignored.
MultipartUploadState startMultipartUpload(ApiClient& client, const nlohmann::json& initBody,
                                          std::int64_t contentSize, std::stop_token stop);

/// Reads the content part by part from disk (one part in memory at a time),
/// presigns each part and PUTs it through ApiClient::sendExternal, and
/// reports the cumulative bytes sent after each part. Stops once the bytes
/// sent reach `content.size`: a file that grew meanwhile sends its last part
/// as read, in full. Fails with
///   - the file error when the file cannot be opened or read;
///   - DriveError::transport("le fichier a changé pendant l'envoi") when the
///     file ends before `content.size` bytes were sent;
///   - DriveError::decoding("URL de part invalide") for a presigned address
///     that is not an http(s) URL;
///   - DriveError::decoding("ETag absent de la réponse du stockage") when the
///     storage answer has no (or an empty) ETag;
///   - CancellationError when `stop` fires;
///   - any error of the presign request or the part transfer.
/// Empty content gives no parts and sends nothing.
std::vector<DriveAPI::UploadedPart> uploadParts(ApiClient& client,
                                                const MultipartUploadState& upload,
                                                const LocalContent& content,
                                                const DriveAPI::Progress& progress,
                                                std::stop_token stop);

/// Tells the server to drop the upload. Sent without a stop token, so that
/// it goes out also when the upload ends by cancellation; every failure is
/// swallowed (the upload failed already, and that is what the caller must
/// hear about).
void abortMultipartUpload(ApiClient& client, const MultipartUploadState& upload) noexcept;

/// Runs `work`; when it throws, aborts `upload` and rethrows the original.
template <class Work>
auto abortingOnFailure(ApiClient& client, const MultipartUploadState& upload, Work&& work) {
    try {
        return work();
    } catch (...) {
        abortMultipartUpload(client, upload);
        throw;
    }
}

}  // namespace cadrio
