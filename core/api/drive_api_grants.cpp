// Short-lived addresses of a file's content and of its thumbnail.

#include "core/api/drive_api.hpp"
#include "core/api/query_encoding.hpp"
#include "core/model/url_check.hpp"
#include "core/model/wire_conversions.hpp"

namespace cadrio {

DriveDownload DriveAPI::contentURL(const DriveFile& file, std::stop_token stop) const {
    if (!isSynchronizable(file.storageClass)) throw DriveError::archived();
    const std::string path = "/drive/files/" + std::to_string(file.id) + "/download-url";
    return driveDownload(client_->get<DownloadURLDTO>(path, stop));
}

std::optional<std::string> DriveAPI::thumbnailURL(const DriveFile& file,
                                                  std::stop_token stop) const {
    if (!isSynchronizable(file.storageClass)) return std::nullopt;
    const auto key = file.preferredThumbnailKey();
    if (!key) return std::nullopt;
    const std::string path = "/drive/thumbnails/presign?s3_key=" + percentEncodedQueryValue(*key);
    PresignDTO presign = client_->get<PresignDTO>(path, stop);
    // The caller fetches whatever comes back; only web addresses are let through.
    if (!isHTTPURL(presign.url)) throw DriveError::decoding("URL de miniature invalide");
    return std::move(presign.url);
}

}  // namespace cadrio
