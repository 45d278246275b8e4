#pragma once
// The drive API's response objects exactly as they travel: snake_case keys
// on the wire, optional fields where the server may leave a key out or send
// null. Decoding lives in wire_decoding, conversion to the clean records in
// wire_conversions. Plain values.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cadrio {

struct FileDTO {
    std::int64_t id = 0;                         // "id"
    std::optional<std::int64_t> idFolder;        // "id_folder"
    std::string fileName;                        // "file_name"
    std::optional<std::string> filePath;         // "file_path"
    std::optional<double> fileSize;              // "file_size", bytes; rounds into Int64
    std::optional<std::string> contentHash;      // "content_hash"
    std::optional<std::int64_t> dateModified;    // "date_modified", seconds since 1970
    std::optional<std::int64_t> dateUpload;      // "date_upload", seconds since 1970
    std::optional<std::int64_t> toDelete;        // "to_delete"
    std::optional<std::string> storageClass;     // "storage_class"
    std::optional<std::string> thumbnailPath;    // "file_miniatures_path"

    bool operator==(const FileDTO&) const = default;
};

struct FolderDTO {
    std::int64_t id = 0;                         // "id"
    std::optional<std::int64_t> idParent;        // "id_parent"
    std::string folderName;                      // "folder_name"
    std::optional<std::int64_t> dateModified;    // "date_modified"
    std::optional<std::int64_t> dateCreation;    // "date_creation"
    std::optional<std::int64_t> toDelete;        // "to_delete"

    bool operator==(const FolderDTO&) const = default;
};

struct ChangesDTO {
    std::optional<std::int64_t> cursor;          // "cursor"
    std::optional<std::vector<FileDTO>> files;   // "files"
    std::optional<std::vector<FolderDTO>> folders;  // "folders"

    bool operator==(const ChangesDTO&) const = default;
};

struct QuotaDTO {
    std::optional<double> quotaUsed;             // "quota_used", megabytes
    std::optional<double> quotaMax;              // "quota_max", megabytes

    bool operator==(const QuotaDTO&) const = default;
};

struct DownloadURLDTO {
    std::string url;                             // "url"
    std::optional<std::int64_t> expiresIn;       // "expires_in", seconds
    std::optional<double> fileSize;              // "file_size", bytes
    std::optional<std::string> contentHash;      // "content_hash"
    std::optional<std::int64_t> dateUpload;      // "date_upload"

    bool operator==(const DownloadURLDTO&) const = default;
};

struct PresignDTO {
    std::string url;                             // "url"

    bool operator==(const PresignDTO&) const = default;
};

struct CreateFolderResponseDTO {
    std::int64_t id = 0;                         // "id"

    bool operator==(const CreateFolderResponseDTO&) const = default;
};

struct UploadResponseDTO {
    std::int64_t id = 0;                         // "id"
    std::optional<std::string> s3Key;            // "s3_key"
    std::optional<std::string> thumbnailPath;    // "file_miniatures_path"

    bool operator==(const UploadResponseDTO&) const = default;
};

struct ReplaceResponseDTO {
    std::int64_t id = 0;                         // "id"
    std::optional<std::string> filePath;         // "file_path"
    std::optional<double> fileSize;              // "file_size"
    std::optional<std::string> contentHash;      // "content_hash"
    std::optional<std::int64_t> dateUpload;      // "date_upload"
    std::optional<std::string> storageClass;     // "storage_class"

    bool operator==(const ReplaceResponseDTO&) const = default;
};

struct MultipartInitDTO {
    std::string uploadID;                        // "upload_id"
    std::string s3Key;                           // "s3_key"
    std::optional<std::int64_t> partSize;        // "part_size", bytes

    bool operator==(const MultipartInitDTO&) const = default;
};

struct LoginResponseDTO {
    std::string accessToken;                     // "access_token"
    std::optional<std::string> email;            // "email"

    bool operator==(const LoginResponseDTO&) const = default;
};

}  // namespace cadrio
