// Listings, the change feed and the quota.

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/api/drive_api.hpp"
#include "core/model/status_mapping.hpp"
#include "core/model/wire_conversions.hpp"

namespace cadrio {

DriveAPI::DriveAPI(std::shared_ptr<ApiClient> client) : client_(std::move(client)) {
    if (!client_) throw std::invalid_argument("DriveAPI : client requis");
}

DriveChanges DriveAPI::changes(std::int64_t since, std::stop_token stop) const {
    try {
        return driveChanges(
            client_->get<ChangesDTO>("/drive/changes?since=" + std::to_string(since), stop));
    } catch (const DriveError& error) {
        throw changeFeedError(error);
    }
}

std::vector<DriveFolder> DriveAPI::folders(std::optional<std::int64_t> in,
                                           std::stop_token stop) const {
    const std::string path =
        in ? "/drive/folders?id_parent=" + std::to_string(*in) : "/drive/folders";
    std::vector<DriveFolder> result;
    for (const FolderDTO& dto : client_->get<std::vector<FolderDTO>>(path, stop)) {
        DriveFolder folder = driveFolder(dto);
        if (!folder.isTrashed) result.push_back(std::move(folder));
    }
    return result;
}

std::vector<DriveFile> DriveAPI::files(std::optional<std::int64_t> in, std::stop_token stop) const {
    std::string path = "/drive/files?limit=" + std::to_string(kFileListingLimit);
    if (in) path += "&id_folder=" + std::to_string(*in);
    std::vector<DriveFile> result;
    for (const FileDTO& dto : client_->get<std::vector<FileDTO>>(path, stop)) {
        DriveFile file = driveFile(dto);
        if (file.isSynchronizable()) result.push_back(std::move(file));
    }
    return result;
}

DriveQuota DriveAPI::quota(std::stop_token stop) const {
    return driveQuota(client_->get<QuotaDTO>("/drive/quota", stop));
}

}  // namespace cadrio
