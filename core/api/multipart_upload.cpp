#include "core/api/multipart_upload.hpp"

#include "core/api/local_part_reader.hpp"
#include "core/model/url_check.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

std::string presignPart(ApiClient& client, const MultipartUploadState& upload, int number,
                        std::stop_token stop) {
    PresignDTO presign = client.post<PresignDTO>("/drive/upload/multipart/presign",
                                                 partPresignBody(upload, number),
                                                 Idempotency::idempotent, stop);
    // The part's bytes go wherever this points; only web addresses qualify.
    if (!isHTTPURL(presign.url)) throw DriveError::decoding("URL de part invalide");
    return std::move(presign.url);
}

/// PUTs the bytes in `buffer` and returns the storage service's ETag. The
/// bytes travel in the request and come back into `buffer` after a success,
/// so its capacity serves the next part.
std::string transferPart(ApiClient& client, std::string url, std::string& buffer,
                         std::stop_token stop) {
    HttpRequest request;
    request.method = "PUT";
    request.url = std::move(url);
    request.body = std::move(buffer);
    request.timeoutSeconds = kPartTransferTimeoutSeconds;
    const HttpResponse response = client.sendExternal(request, stop);
    buffer = std::move(request.body);
    auto etag = response.header("ETag");
    if (!etag || etag->empty()) throw DriveError::decoding("ETag absent de la réponse du stockage");
    return std::move(*etag);
}

}  // namespace

MultipartUploadState startMultipartUpload(ApiClient& client, const nlohmann::json& initBody,
                                          std::int64_t contentSize, std::stop_token stop) {
    MultipartInitDTO init =
        client.post<MultipartInitDTO>("/drive/upload/multipart/init", initBody,
                                      Idempotency::notIdempotent, stop);
    return {std::move(init.uploadID), std::move(init.s3Key), DriveAPI::partSize(contentSize)};
}

std::vector<DriveAPI::UploadedPart> uploadParts(ApiClient& client,
                                                const MultipartUploadState& upload,
                                                const LocalContent& content,
                                                const DriveAPI::Progress& progress,
                                                std::stop_token stop) {
    LocalPartReader reader(content.url);
    std::vector<DriveAPI::UploadedPart> parts;
    if (content.size < 1) return parts;

    std::string buffer;
    std::int64_t bytesSent = 0;
    for (int number = 1; bytesSent < content.size; ++number) {
        if (stop.stop_requested()) throw CancellationError();
        reader.readPart(buffer, static_cast<std::size_t>(upload.partSize));
        if (buffer.empty()) throw DriveError::transport("le fichier a changé pendant l'envoi");
        const auto partBytes = static_cast<std::int64_t>(buffer.size());
        std::string url = presignPart(client, upload, number, stop);
        parts.push_back({number, transferPart(client, std::move(url), buffer, stop)});
        bytesSent += partBytes;
        if (progress) progress(bytesSent);
    }
    return parts;
}

void abortMultipartUpload(ApiClient& client, const MultipartUploadState& upload) noexcept {
    try {
        client.post("/drive/upload/multipart/abort", abortBody(upload), Idempotency::idempotent);
    } catch (...) {
        // The caller reports the failure that led here.
    }
}

}  // namespace cadrio
