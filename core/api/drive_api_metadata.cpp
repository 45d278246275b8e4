// Folder creation, renames, moves and deletions: small JSON requests whose
// answers are not read (except the new folder's id).

#include <nlohmann/json.hpp>

#include "core/api/drive_api.hpp"

namespace cadrio {
namespace {

/// The root travels as folder id 0.
std::int64_t wireFolderID(std::optional<std::int64_t> id) {
    return id.value_or(0);
}

}  // namespace

std::int64_t DriveAPI::createFolder(const std::string& name, std::optional<std::int64_t> parentID,
                                    std::stop_token stop) const {
    const nlohmann::json body = {{"folder_name", name}, {"id_parent", wireFolderID(parentID)}};
    return client_
        ->post<CreateFolderResponseDTO>("/drive/folders", body, Idempotency::notIdempotent, stop)
        .id;
}

void DriveAPI::renameFile(std::int64_t id, const std::string& to, std::stop_token stop) const {
    // The body is the bare JSON string, not an object.
    client_->put("/drive/files/" + std::to_string(id) + "/rename", nlohmann::json(to), stop);
}

void DriveAPI::updateFolder(std::int64_t id, std::optional<std::string> name,
                            std::optional<std::optional<std::int64_t>> parentID,
                            std::stop_token stop) const {
    if (!name && !parentID) return;
    nlohmann::json body = nlohmann::json::object();
    if (name) body["folder_name"] = std::move(*name);
    if (parentID) body["parent_id"] = wireFolderID(*parentID);
    client_->put("/drive/folders/" + std::to_string(id), body, stop);
}

void DriveAPI::move(const std::vector<std::int64_t>& fileIDs,
                    const std::vector<std::int64_t>& folderIDs, std::optional<std::int64_t> to,
                    std::stop_token stop) const {
    if (fileIDs.empty() && folderIDs.empty()) return;
    const nlohmann::json body = {
        {"file_ids", fileIDs}, {"folder_ids", folderIDs}, {"target_folder_id", wireFolderID(to)}};
    client_->post("/drive/move", body, Idempotency::idempotent, stop);
}

void DriveAPI::trash(const std::vector<std::int64_t>& fileIDs,
                     const std::vector<std::int64_t>& folderIDs, std::stop_token stop) const {
    if (fileIDs.empty() && folderIDs.empty()) return;
    const nlohmann::json body = {{"file_ids", fileIDs}, {"folder_ids", folderIDs}};
    client_->post("/drive/bulk-delete", body, Idempotency::idempotent, stop);
}

}  // namespace cadrio
