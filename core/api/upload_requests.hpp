#pragma once
// The bodies of the upload requests: the multipart forms of the one-request
// paths and the JSON of the multipart-upload steps. Pure functions; key
// order in JSON is not significant to the server.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/api/drive_api.hpp"
#include "core/http/multipart_form.hpp"

namespace cadrio {

/// A server multipart upload after its init call. `partSize` is always
/// DriveAPI::partSize of the content's size, whatever the server proposed.
struct MultipartUploadState {
    std::string uploadID;
    std::string s3Key;
    std::int64_t partSize = DriveAPI::kStandardPartSize;
};

/// A new file in one request: the file part named `name`, then "id_folder"
/// (0 for the root), "storage_class" and "content_hash"; finalized.
MultipartForm singleUploadForm(std::string_view name, std::optional<std::int64_t> parentID,
                               const LocalContent& content, std::string_view data,
                               std::string boundary = MultipartForm::makeBoundary());

/// A replacement in one request: the file part under the file's current
/// name, then the present precondition fields; finalized.
MultipartForm replacementForm(const DriveFile& file, const LocalContent& content,
                              const ReplacePrecondition& precondition, std::string_view data,
                              std::string boundary = MultipartForm::makeBoundary());

nlohmann::json multipartInitBody(std::string_view name, std::optional<std::int64_t> parentID,
                                 const LocalContent& content);
nlohmann::json partPresignBody(const MultipartUploadState& upload, int partNumber);
nlohmann::json abortBody(const MultipartUploadState& upload);

/// [{"PartNumber": n, "ETag": e}, ...] in the given order.
nlohmann::json partsJSON(const std::vector<DriveAPI::UploadedPart>& parts);

nlohmann::json createCompleteBody(const MultipartUploadState& upload,
                                  const std::vector<DriveAPI::UploadedPart>& parts,
                                  std::string_view name, std::optional<std::int64_t> parentID,
                                  const LocalContent& content);
nlohmann::json replaceCompleteBody(const MultipartUploadState& upload,
                                   const std::vector<DriveAPI::UploadedPart>& parts,
                                   const LocalContent& content,
                                   const ReplacePrecondition& precondition);

/// The folder id sent for a parent: absent, 0 and negative are the root, 0.
std::int64_t wireParentID(std::optional<std::int64_t> parentID);

}  // namespace cadrio
