#include "core/model/wire_decoding.hpp"

#include "core/model/json_decoding.hpp"

namespace cadrio {
namespace {

FileDTO fileFrom(const JsonObjectReader& object) {
    FileDTO file;
    file.id = object.requiredInt64("id");
    file.idFolder = object.optionalInt64("id_folder");
    file.fileName = object.requiredString("file_name");
    file.filePath = object.optionalString("file_path");
    file.fileSize = object.optionalByteCount("file_size");
    file.contentHash = object.optionalString("content_hash");
    file.dateModified = object.optionalInt64("date_modified");
    file.dateUpload = object.optionalInt64("date_upload");
    file.toDelete = object.optionalInt64("to_delete");
    file.storageClass = object.optionalString("storage_class");
    file.thumbnailPath = object.optionalString("file_miniatures_path");
    return file;
}

FolderDTO folderFrom(const JsonObjectReader& object) {
    FolderDTO folder;
    folder.id = object.requiredInt64("id");
    folder.idParent = object.optionalInt64("id_parent");
    folder.folderName = object.requiredString("folder_name");
    folder.dateModified = object.optionalInt64("date_modified");
    folder.dateCreation = object.optionalInt64("date_creation");
    folder.toDelete = object.optionalInt64("to_delete");
    return folder;
}

}  // namespace

ChangesDTO decodeChanges(std::string_view body) {
    return decodeJsonObject<ChangesDTO>(body, [](const JsonObjectReader& object) {
        ChangesDTO changes;
        changes.cursor = object.optionalInt64("cursor");
        changes.files = object.optionalObjectArray<FileDTO>("files", fileFrom);
        changes.folders = object.optionalObjectArray<FolderDTO>("folders", folderFrom);
        return changes;
    });
}

std::vector<FileDTO> decodeFiles(std::string_view body) {
    return decodeJsonObjectArray<FileDTO>(body, fileFrom);
}

std::vector<FolderDTO> decodeFolders(std::string_view body) {
    return decodeJsonObjectArray<FolderDTO>(body, folderFrom);
}

QuotaDTO decodeQuota(std::string_view body) {
    return decodeJsonObject<QuotaDTO>(body, [](const JsonObjectReader& object) {
        return QuotaDTO{object.optionalDouble("quota_used"), object.optionalDouble("quota_max")};
    });
}

DownloadURLDTO decodeDownloadURL(std::string_view body) {
    return decodeJsonObject<DownloadURLDTO>(body, [](const JsonObjectReader& object) {
        DownloadURLDTO download;
        download.url = object.requiredString("url");
        download.expiresIn = object.optionalInt64("expires_in");
        download.fileSize = object.optionalByteCount("file_size");
        download.contentHash = object.optionalString("content_hash");
        download.dateUpload = object.optionalInt64("date_upload");
        return download;
    });
}

PresignDTO decodePresign(std::string_view body) {
    return decodeJsonObject<PresignDTO>(
        body, [](const JsonObjectReader& object) { return PresignDTO{object.requiredString("url")}; });
}

CreateFolderResponseDTO decodeCreateFolderResponse(std::string_view body) {
    return decodeJsonObject<CreateFolderResponseDTO>(
        body, [](const JsonObjectReader& object) { return CreateFolderResponseDTO{object.requiredInt64("id")}; });
}

UploadResponseDTO decodeUploadResponse(std::string_view body) {
    return decodeJsonObject<UploadResponseDTO>(body, [](const JsonObjectReader& object) {
        return UploadResponseDTO{object.requiredInt64("id"), object.optionalString("s3_key"),
                                 object.optionalString("file_miniatures_path")};
    });
}

ReplaceResponseDTO decodeReplaceResponse(std::string_view body) {
    return decodeJsonObject<ReplaceResponseDTO>(body, [](const JsonObjectReader& object) {
        ReplaceResponseDTO replaced;
        replaced.id = object.requiredInt64("id");
        replaced.filePath = object.optionalString("file_path");
        replaced.fileSize = object.optionalByteCount("file_size");
        replaced.contentHash = object.optionalString("content_hash");
        replaced.dateUpload = object.optionalInt64("date_upload");
        replaced.storageClass = object.optionalString("storage_class");
        return replaced;
    });
}

MultipartInitDTO decodeMultipartInit(std::string_view body) {
    return decodeJsonObject<MultipartInitDTO>(body, [](const JsonObjectReader& object) {
        return MultipartInitDTO{object.requiredString("upload_id"), object.requiredString("s3_key"),
                                object.optionalInt64("part_size")};
    });
}

LoginResponseDTO decodeLoginResponse(std::string_view body) {
    return decodeJsonObject<LoginResponseDTO>(body, [](const JsonObjectReader& object) {
        return LoginResponseDTO{object.requiredString("access_token"), object.optionalString("email")};
    });
}

}  // namespace cadrio
