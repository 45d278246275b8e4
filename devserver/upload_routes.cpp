// Single-request uploads of /api/v1/drive: a new file
// (POST /drive/upload/file) and the replacement of a file's content
// (PUT /drive/files/{id}/content), both as multipart/form-data.

#include "devserver/auth_http.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/form_reader.hpp"
#include "devserver/server_context.hpp"
#include "devserver/wire_json.hpp"

namespace cadrio::devserver {
namespace {

std::int64_t formInt(const ReceivedForm& form, const std::string& name, std::int64_t fallback) {
    const auto text = form.field(name);
    if (!text) return fallback;
    const auto value = parseInt64(*text);
    if (!value) throw badRequest("Champ \"" + name + "\" invalide.");
    return *value;
}

/// Puts the received file in place as a new object; the caller removes it
/// again if the drive refuses it.
StoredContent storeReceived(ServerContext& context, ReceivedForm& form) {
    StoredContent content{BlobStore::newObjectKey(), form.fileBytes, form.fileHash,
                          form.fileContentType.empty() ? "application/octet-stream" : form.fileContentType};
    context.blobs.commit(*form.file, content.storageKey);
    return content;
}

void uploadFile(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader, const std::string& account) {
    auto form = readUploadForm(req, reader, context.blobs, kDirectUploadLimit);
    const auto folder = formInt(form, "id_folder", kRootFolderId);
    const auto storageClass = form.field("storage_class").value_or("standard");
    if (storageClass != "standard") throw badRequest("Seule la classe \"standard\" est acceptée à l'envoi.");
    const auto announced = form.field("content_hash");
    if (announced && *announced != form.fileHash) {
        throw ServiceError(400, "content_hash_mismatch", "Le contenu reçu ne correspond pas à \"content_hash\".");
    }
    validateItemName(form.fileName);
    const auto content = storeReceived(context, form);
    try {
        const auto file = context.store.createFile(
            account, NewFile{form.fileName, folder < 0 ? kRootFolderId : folder, content, storageClass, {}});
        sendJson(res, 200, uploadResponse(file));
    } catch (...) {
        context.blobs.remove(content.storageKey);
        throw;
    }
}

void replaceFileContent(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader, const std::string& account) {
    const auto id = pathInt(req);
    auto form = readUploadForm(req, reader, context.blobs, kDirectUploadLimit);
    ReplacePreconditions preconditions;
    preconditions.ifContentHash = form.field("if_content_hash");
    if (form.field("if_date_upload")) preconditions.ifDateUpload = formInt(form, "if_date_upload", 0);
    const auto content = storeReceived(context, form);
    ReplaceResult result;
    try {
        result = context.store.replaceContent(account, id, preconditions, content);
    } catch (...) {
        context.blobs.remove(content.storageKey);
        throw;
    }
    context.blobs.remove(result.replacedKey);
    sendJson(res, 200, replaceResponse(result.file));
}

}  // namespace

void registerUploadRoutes(httplib::Server& server, ServerContext& context) {
    server.Post("/api/v1/drive/upload/file",
                authenticatedUpload(context, [&context](auto& req, auto& res, auto& reader, auto& account) {
                    uploadFile(context, req, res, reader, account);
                }));
    server.Put(R"(/api/v1/drive/files/(\d+)/content)",
               authenticatedUpload(context, [&context](auto& req, auto& res, auto& reader, auto& account) {
                   replaceFileContent(context, req, res, reader, account);
               }));
}

}  // namespace cadrio::devserver
