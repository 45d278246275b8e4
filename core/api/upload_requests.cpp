#include "core/api/upload_requests.hpp"

namespace cadrio {
namespace {

constexpr const char* kStandardStorageClass = "standard";

void addPrecondition(nlohmann::json& body, const ReplacePrecondition& precondition) {
    if (precondition.ifContentHash) body["if_content_hash"] = *precondition.ifContentHash;
    if (precondition.ifDateUpload) body["if_date_upload"] = *precondition.ifDateUpload;
}

}  // namespace

std::int64_t wireParentID(std::optional<std::int64_t> parentID) {
    return parentID && *parentID > 0 ? *parentID : 0;
}

MultipartForm singleUploadForm(std::string_view name, std::optional<std::int64_t> parentID,
                               const LocalContent& content, std::string_view data,
                               std::string boundary) {
    MultipartForm form(std::move(boundary));
    form.addFile("file", name, content.contentType, data);
    form.addField("id_folder", std::to_string(wireParentID(parentID)));
    form.addField("storage_class", kStandardStorageClass);
    form.addField("content_hash", content.contentHash);
    form.finalize();
    return form;
}

MultipartForm replacementForm(const DriveFile& file, const LocalContent& content,
                              const ReplacePrecondition& precondition, std::string_view data,
                              std::string boundary) {
    MultipartForm form(std::move(boundary));
    form.addFile("file", file.name, content.contentType, data);
    if (precondition.ifContentHash) form.addField("if_content_hash", *precondition.ifContentHash);
    if (precondition.ifDateUpload)
        form.addField("if_date_upload", std::to_string(*precondition.ifDateUpload));
    form.finalize();
    return form;
}

nlohmann::json multipartInitBody(std::string_view name, std::optional<std::int64_t> parentID,
                                 const LocalContent& content) {
    return {{"file_name", name},
            {"file_size", content.size},
            {"id_folder", wireParentID(parentID)},
            {"content_type", content.contentType},
            {"storage_class", kStandardStorageClass}};
}

nlohmann::json partPresignBody(const MultipartUploadState& upload, int partNumber) {
    return {{"s3_key", upload.s3Key}, {"upload_id", upload.uploadID}, {"part_number", partNumber}};
}

nlohmann::json abortBody(const MultipartUploadState& upload) {
    return {{"s3_key", upload.s3Key}, {"upload_id", upload.uploadID}};
}

nlohmann::json partsJSON(const std::vector<DriveAPI::UploadedPart>& parts) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& part : parts)
        list.push_back({{"PartNumber", part.number}, {"ETag", part.etag}});
    return list;
}

nlohmann::json createCompleteBody(const MultipartUploadState& upload,
                                  const std::vector<DriveAPI::UploadedPart>& parts,
                                  std::string_view name, std::optional<std::int64_t> parentID,
                                  const LocalContent& content) {
    return {{"s3_key", upload.s3Key},
            {"upload_id", upload.uploadID},
            {"parts", partsJSON(parts)},
            {"file_name", name},
            {"file_size", content.size},
            {"id_folder", wireParentID(parentID)},
            {"content_type", content.contentType},
            {"storage_class", kStandardStorageClass},
            {"content_hash", content.contentHash}};
}

nlohmann::json replaceCompleteBody(const MultipartUploadState& upload,
                                   const std::vector<DriveAPI::UploadedPart>& parts,
                                   const LocalContent& content,
                                   const ReplacePrecondition& precondition) {
    nlohmann::json body = {{"s3_key", upload.s3Key},
                           {"upload_id", upload.uploadID},
                           {"parts", partsJSON(parts)},
                           {"file_size", content.size},
                           {"content_type", content.contentType},
                           {"content_hash", content.contentHash}};
    addPrecondition(body, precondition);
    return body;
}

}  // namespace cadrio
