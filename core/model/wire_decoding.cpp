#include "core/model/wire_decoding.hpp"

#include "core/model/json_decoding.hpp"

namespace cadrio {
namespace {

const JsonObjectPlan<FileDTO>& filePlan() {
    static const JsonObjectPlan<FileDTO> plan{
        field<&FileDTO::id>("id"),
        field<&FileDTO::idFolder>("id_folder"),
        field<&FileDTO::fileName>("file_name"),
        field<&FileDTO::filePath>("file_path"),
        byteCountField<&FileDTO::fileSize>("file_size"),
        field<&FileDTO::contentHash>("content_hash"),
        field<&FileDTO::dateModified>("date_modified"),
        field<&FileDTO::dateUpload>("date_upload"),
        field<&FileDTO::toDelete>("to_delete"),
        field<&FileDTO::storageClass>("storage_class"),
        field<&FileDTO::thumbnailPath>("file_miniatures_path"),
    };
    return plan;
}

const JsonObjectPlan<FolderDTO>& folderPlan() {
    static const JsonObjectPlan<FolderDTO> plan{
        field<&FolderDTO::id>("id"),
        field<&FolderDTO::idParent>("id_parent"),
        field<&FolderDTO::folderName>("folder_name"),
        field<&FolderDTO::dateModified>("date_modified"),
        field<&FolderDTO::dateCreation>("date_creation"),
        field<&FolderDTO::toDelete>("to_delete"),
    };
    return plan;
}

}  // namespace

ChangesDTO decodeChanges(std::string_view body) {
    static const JsonObjectPlan<ChangesDTO> plan{
        field<&ChangesDTO::cursor>("cursor"),
        objectArrayField<&ChangesDTO::files>("files", filePlan()),
        objectArrayField<&ChangesDTO::folders>("folders", folderPlan()),
    };
    return decodeJsonObject(body, plan);
}

std::vector<FileDTO> decodeFiles(std::string_view body) { return decodeJsonObjectArray(body, filePlan()); }

std::vector<FolderDTO> decodeFolders(std::string_view body) { return decodeJsonObjectArray(body, folderPlan()); }

QuotaDTO decodeQuota(std::string_view body) {
    static const JsonObjectPlan<QuotaDTO> plan{
        field<&QuotaDTO::quotaUsed>("quota_used"),
        field<&QuotaDTO::quotaMax>("quota_max"),
    };
    return decodeJsonObject(body, plan);
}

DownloadURLDTO decodeDownloadURL(std::string_view body) {
    static const JsonObjectPlan<DownloadURLDTO> plan{
        field<&DownloadURLDTO::url>("url"),
        field<&DownloadURLDTO::expiresIn>("expires_in"),
        byteCountField<&DownloadURLDTO::fileSize>("file_size"),
        field<&DownloadURLDTO::contentHash>("content_hash"),
        field<&DownloadURLDTO::dateUpload>("date_upload"),
    };
    return decodeJsonObject(body, plan);
}

PresignDTO decodePresign(std::string_view body) {
    static const JsonObjectPlan<PresignDTO> plan{field<&PresignDTO::url>("url")};
    return decodeJsonObject(body, plan);
}

CreateFolderResponseDTO decodeCreateFolderResponse(std::string_view body) {
    static const JsonObjectPlan<CreateFolderResponseDTO> plan{field<&CreateFolderResponseDTO::id>("id")};
    return decodeJsonObject(body, plan);
}

UploadResponseDTO decodeUploadResponse(std::string_view body) {
    static const JsonObjectPlan<UploadResponseDTO> plan{
        field<&UploadResponseDTO::id>("id"),
        field<&UploadResponseDTO::s3Key>("s3_key"),
        field<&UploadResponseDTO::thumbnailPath>("file_miniatures_path"),
    };
    return decodeJsonObject(body, plan);
}

ReplaceResponseDTO decodeReplaceResponse(std::string_view body) {
    static const JsonObjectPlan<ReplaceResponseDTO> plan{
        field<&ReplaceResponseDTO::id>("id"),
        field<&ReplaceResponseDTO::filePath>("file_path"),
        byteCountField<&ReplaceResponseDTO::fileSize>("file_size"),
        field<&ReplaceResponseDTO::contentHash>("content_hash"),
        field<&ReplaceResponseDTO::dateUpload>("date_upload"),
        field<&ReplaceResponseDTO::storageClass>("storage_class"),
    };
    return decodeJsonObject(body, plan);
}

MultipartInitDTO decodeMultipartInit(std::string_view body) {
    static const JsonObjectPlan<MultipartInitDTO> plan{
        field<&MultipartInitDTO::uploadID>("upload_id"),
        field<&MultipartInitDTO::s3Key>("s3_key"),
        field<&MultipartInitDTO::partSize>("part_size"),
    };
    return decodeJsonObject(body, plan);
}

LoginResponseDTO decodeLoginResponse(std::string_view body) {
    static const JsonObjectPlan<LoginResponseDTO> plan{
        field<&LoginResponseDTO::accessToken>("access_token"),
        field<&LoginResponseDTO::email>("email"),
    };
    return decodeJsonObject(body, plan);
}

}  // namespace cadrio
