// Multipart uploads of /api/v1/drive: init, part presign, completion of a
// new file or of a content replacement, abort. The parts themselves go to
// the storage routes through presigned URLs.

#include "devserver/auth_http.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/server_context.hpp"
#include "devserver/wire_json.hpp"

#include "devserver/digest.hpp"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace cadrio::devserver {
namespace {

std::vector<UploadedPartRef> partsOf(const nlohmann::json& body) {
    const auto it = body.find("parts");
    if (it == body.end() || !it->is_array()) throw badRequest("Champ \"parts\" manquant.");
    std::vector<UploadedPartRef> parts;
    for (const auto& part : *it) {
        if (!part.is_object()) throw badRequest("\"parts\" : objets {\"PartNumber\", \"ETag\"} attendus.");
        const auto number = requireInt(part, "PartNumber");
        if (number < 1 || number > MultipartRegistry::kMaxParts) throw badRequest("Numéro de partie invalide.");
        parts.push_back({static_cast<int>(number), requireText(part, "ETag")});
    }
    return parts;
}

/// The content of a claimed upload as a staged object, with its SHA-256.
/// Every part numbered 1 to N, in place: the object file itself, cut to their total (and
/// left where it is if the completion fails, for another try). Otherwise
/// the listed regions are copied into a new object.
std::pair<StagedBlob, std::string> assemble(const BlobStore& blobs, const MultipartRegistry::Claim& claim) {
    std::int64_t total = 0;
    for (const auto& region : claim.regions) total += region.second;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(claim.objectFile.c_str(), "ab+"), &std::fclose);
    if (!file) throw std::runtime_error("cannot open upload object " + claim.objectFile.string());
    const int fd = ::fileno(file.get());
    if (claim.inPlace && ::ftruncate(fd, static_cast<off_t>(total)) != 0) {
        throw std::runtime_error("cannot cut upload object " + claim.objectFile.string());
    }
    std::optional<StagedBlob> copy;
    if (!claim.inPlace) copy.emplace(blobs.stage());
    Digest digest(Digest::Kind::sha256);
    std::vector<char> buffer(1 << 20);
    for (const auto& [offset, size] : claim.regions) {
        for (std::int64_t done = 0; done < size;) {
            const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size - done, buffer.size()));
            const auto got = ::pread(fd, buffer.data(), wanted, static_cast<off_t>(offset + done));
            if (got <= 0) throw std::runtime_error("cannot read upload object " + claim.objectFile.string());
            digest.update(buffer.data(), static_cast<std::size_t>(got));
            if (copy && !copy->write(buffer.data(), static_cast<std::size_t>(got))) {
                throw std::runtime_error("cannot write assembled object");
            }
            done += got;
        }
    }
    if (!copy) return {StagedBlob::adopt(claim.objectFile, total), digest.finishHex()};
    copy->finish();
    return {std::move(*copy), digest.finishHex()};
}

/// The checks and the assembly shared by both completions: claims the
/// upload, runs `precheck` (refusals that need no content), builds the
/// object, checks size and hash, and commits it under the upload's key.
/// `commit` records it in the drive. The upload is released for another
/// try when anything fails.
void complete(ServerContext& context, const std::string& account, const nlohmann::json& body,
              const std::function<void()>& precheck,
              const std::function<void(const MultipartUpload&, const StoredContent&)>& commit) {
    const auto key = requireText(body, "s3_key");
    const auto uploadId = requireText(body, "upload_id");
    const auto parts = partsOf(body);
    const auto claim = context.uploads.claim(account, key, uploadId, parts);
    const auto& upload = claim.upload;
    bool committed = false;
    try {
        precheck();
        auto [blob, hash] = assemble(context.blobs, claim);
        const auto size = optionalInt(body, "file_size").value_or(upload.fileSize);
        if (blob.size() != size) {
            throw ServiceError(400, "size_mismatch", "Les parties reçues font " + std::to_string(blob.size()) +
                                                         " octets, " + std::to_string(size) + " annoncés.");
        }
        const auto announced = optionalText(body, "content_hash");
        if (announced && *announced != hash) {
            throw ServiceError(400, "content_hash_mismatch", "Le contenu reçu ne correspond pas à \"content_hash\".");
        }
        const auto type = optionalText(body, "content_type").value_or(upload.contentType);
        const StoredContent content{key, blob.size(), hash, type.empty() ? "application/octet-stream" : type};
        context.blobs.commit(blob, key);
        committed = true;
        commit(upload, content);
    } catch (...) {
        if (committed) context.blobs.remove(key);
        context.uploads.release(uploadId);
        throw;
    }
    context.uploads.finish(uploadId);
}

void begin(ServerContext& context, const httplib::Request& req, httplib::Response& res, const std::string& account) {
    const auto body = jsonObjectBody(req);
    const auto name = requireText(body, "file_name");
    const auto size = requireInt(body, "file_size");
    const auto folder = std::max(optionalInt(body, "id_folder").value_or(kRootFolderId), kRootFolderId);
    if (optionalText(body, "storage_class").value_or("standard") != "standard") {
        throw badRequest("Seule la classe \"standard\" est acceptée à l'envoi.");
    }
    if (size < 0) throw badRequest("Taille négative.");
    validateItemName(name);
    context.store.checkFolder(account, folder);
    if (size > context.store.quota(account).second) {
        throw ServiceError(507, "insufficient_quota", "Espace de stockage insuffisant.");
    }
    if (MultipartRegistry::partSizeFor(size) > kMaxRequestBody) {
        throw ServiceError(413, "payload_too_large", "Fichier trop volumineux pour ce serveur.");
    }
    const auto upload = context.uploads.begin(account, name, size, folder,
                                              optionalText(body, "content_type").value_or(""));
    sendJson(res, 200, {{"upload_id", upload.uploadId}, {"s3_key", upload.storageKey}, {"part_size", upload.partSize}});
}

void presignPart(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                 const std::string& account) {
    const auto body = jsonObjectBody(req);
    const auto upload = context.uploads.find(account, requireText(body, "s3_key"), requireText(body, "upload_id"));
    const auto number = requireInt(body, "part_number");
    if (number < 1 || number > MultipartRegistry::kMaxParts) throw badRequest("Numéro de partie invalide (1 à 10000).");
    const auto path = "/storage/uploads/" + upload.uploadId + "/" + std::to_string(number);
    sendJson(res, 200, {{"url", context.presign("PUT", path)}});
}

void completeNewFile(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                     const std::string& account) {
    const auto body = jsonObjectBody(req);
    if (optionalText(body, "storage_class").value_or("standard") != "standard") {
        throw badRequest("Seule la classe \"standard\" est acceptée à l'envoi.");
    }
    complete(context, account, body, [] {}, [&](const MultipartUpload& upload, const StoredContent& content) {
        const auto name = optionalText(body, "file_name").value_or(upload.fileName);
        const auto folder = std::max(optionalInt(body, "id_folder").value_or(upload.folderId), kRootFolderId);
        const auto file = context.store.createFile(account, NewFile{name, folder, content, "standard", {}});
        sendJson(res, 200, uploadResponse(file));
    });
}

void completeReplacement(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                         const std::string& account) {
    const auto id = pathInt(req);
    const auto body = jsonObjectBody(req);
    const ReplacePreconditions preconditions{optionalText(body, "if_content_hash"),
                                             optionalInt(body, "if_date_upload")};
    ReplaceResult result;
    complete(
        context, account, body,
        // Refused before the parts are assembled; checked again at the commit.
        [&] { context.store.checkReplaceable(account, id, preconditions); },
        [&](const MultipartUpload&, const StoredContent& content) {
            result = context.store.replaceContent(account, id, preconditions, content);
        });
    context.blobs.remove(result.replacedKey);
    sendJson(res, 200, replaceResponse(result.file));
}

}  // namespace

void registerMultipartRoutes(httplib::Server& server, ServerContext& context) {
    const auto route = [&context](void (*handler)(ServerContext&, const httplib::Request&, httplib::Response&,
                                                  const std::string&)) {
        return authenticated(context, [&context, handler](auto& req, auto& res, auto& account) {
            handler(context, req, res, account);
        });
    };
    server.Post("/api/v1/drive/upload/multipart/init", route(begin));
    server.Post("/api/v1/drive/upload/multipart/presign", route(presignPart));
    server.Post("/api/v1/drive/upload/multipart/complete", route(completeNewFile));
    server.Post(R"(/api/v1/drive/files/(\d+)/content/complete)", route(completeReplacement));
    server.Post("/api/v1/drive/upload/multipart/abort", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonObjectBody(req);
        context.uploads.abort(account, requireText(body, "s3_key"), requireText(body, "upload_id"));
        sendJson(res, 200, {{"ok", true}});
    }));
}

}  // namespace cadrio::devserver
