// The storage service behind presigned URLs: GET of an object (contents
// and thumbnails, streamed from their files) and PUT of an upload part
// (streamed into the upload's staging directory, answered with its ETag).

#include "devserver/auth_http.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/server_context.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace cadrio::devserver {
namespace {

constexpr std::size_t kChunk = 1 << 20;

void requireSignature(const ServerContext& context, const httplib::Request& req, const std::string& method) {
    switch (context.presigner.verify(method, req.path, req.get_param_value("expires"),
                                     req.get_param_value("signature"))) {
        case Presigner::Verdict::valid: return;
        case Presigner::Verdict::expired: throw ServiceError(403, "url_expired", "Adresse présignée expirée.");
        case Presigner::Verdict::invalid: throw ServiceError(403, "signature_invalid", "Signature invalide.");
    }
}

/// An open object file, closed when the last provider call is done.
struct OpenObject {
    int fd = -1;
    std::vector<char> buffer;
    ~OpenObject() {
        if (fd >= 0) ::close(fd);
    }
};

void download(ServerContext& context, const httplib::Request& req, httplib::Response& res) {
    requireSignature(context, req, "GET");
    const auto key = req.matches[1].str();
    if (!BlobStore::isValidKey(key)) throw notFound("Objet inconnu.");
    auto object = std::make_shared<OpenObject>();
    // Opened once: a replacement that removes the object meanwhile does not
    // cut this download short.
    object->fd = ::open(context.blobs.pathOf(key).c_str(), O_RDONLY | O_CLOEXEC);
    if (object->fd < 0) throw notFound("Objet inconnu.");
    struct stat info {};
    if (::fstat(object->fd, &info) != 0) throw std::runtime_error("cannot stat object " + key);
    const auto type = key.rfind("thumbnails/", 0) == 0 ? "image/jpeg" : "application/octet-stream";
    res.set_content_provider(
        static_cast<std::size_t>(info.st_size), type,
        [object](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (object->buffer.empty()) object->buffer.resize(kChunk);
            const auto wanted = std::min(length, object->buffer.size());
            const auto got = ::pread(object->fd, object->buffer.data(), wanted, static_cast<off_t>(offset));
            // A short file (changed under us) ends the answer early: the
            // client sees fewer bytes than announced.
            return got > 0 && sink.write(object->buffer.data(), static_cast<std::size_t>(got));
        });
}

void receivePart(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader, bool& bodyRead) {
    requireSignature(context, req, "PUT");
    const auto uploadId = req.matches[1].str();
    const auto number = std::stoi(req.matches[2].str());
    if (number < 1 || number > MultipartRegistry::kMaxParts) throw badRequest("Numéro de partie invalide.");
    const auto limit = context.uploads.partLimit(uploadId);
    if (req.is_multipart_form_data()) throw badRequest("Une partie se téléverse brute, pas en formulaire.");
    StagedBlob part(context.uploads.receivingPath(uploadId));
    std::int64_t received = 0;
    bool writeFailed = false;
    bodyRead = true;
    const bool complete = reader([&](const char* data, std::size_t size) {
        received += static_cast<std::int64_t>(size);
        if (received <= limit && !part.write(data, size)) writeFailed = true;
        return true;
    });
    if (!complete) throw badRequest("Corps incomplet.");
    if (received > limit) {
        throw ServiceError(413, "part_too_large", "Partie plus grande que la taille de partie de l'envoi.");
    }
    if (writeFailed) throw std::runtime_error("cannot store upload part");
    const auto etag = "\"" + part.finish().substr(0, 32) + "\"";
    context.uploads.storePart(uploadId, number, part.path(), etag, received);
    part.release();
    res.status = 200;
    res.set_header("ETag", etag);
}

}  // namespace

void registerStorageRoutes(httplib::Server& server, ServerContext& context) {
    server.Get(R"(/storage/((?:objects|thumbnails)/[^/]+))", [&context](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] { download(context, req, res); });
    });
    server.Put(R"(/storage/uploads/([0-9a-f]{32})/(\d{1,5}))",
               [&context](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                   bool bodyRead = false;
                   answer(res, [&] { receivePart(context, req, res, reader, bodyRead); });
                   if (!bodyRead) discardBody(req, reader);
               });
}

}  // namespace cadrio::devserver
