// The storage service behind presigned URLs: GET of an object (contents
// and thumbnails, streamed from their files) and PUT of an upload part
// (streamed into the upload's staging directory, answered with its ETag).

#include "devserver/auth_http.hpp"
#include "devserver/digest.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/server_context.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>
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

/// Writes a part into the upload's object file at its offset, in large
/// writes, hashing it on the way for its ETag.
class PartWriter {
public:
    PartWriter(const std::filesystem::path& file, std::int64_t offset)
        : fd_(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)), offset_(offset) {
        if (fd_ < 0) throw std::runtime_error("cannot open upload object " + file.string());
        buffer_.reserve(kChunk);
    }
    ~PartWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;

    bool write(const char* data, std::size_t size) {
        digest_.update(data, size);
        while (size > 0) {
            const auto taken = std::min(size, kChunk - buffer_.size());
            buffer_.insert(buffer_.end(), data, data + taken);
            data += taken;
            size -= taken;
            if (buffer_.size() == kChunk && !flush()) return false;
        }
        return true;
    }
    /// The ETag, quoted as object stores give it: half of the SHA-256.
    std::string finish() {
        if (!flush() || ::close(std::exchange(fd_, -1)) != 0) throw std::runtime_error("cannot write upload part");
        std::string etag(1, '"');
        etag.append(digest_.finishHex(), 0, 32);
        etag.push_back('"');
        return etag;
    }

private:
    bool flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            const auto n = ::pwrite(fd_, buffer_.data() + done, buffer_.size() - done, static_cast<off_t>(offset_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
            offset_ += n;
        }
        buffer_.clear();
        return true;
    }

    int fd_;
    std::int64_t offset_;
    std::vector<char> buffer_;
    Digest digest_{Digest::Kind::sha256};
};

void receivePart(ServerContext& context, const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader, bool& bodyRead) {
    requireSignature(context, req, "PUT");
    const auto uploadId = req.matches[1].str();
    const auto number = std::stoi(req.matches[2].str());
    if (number < 1 || number > MultipartRegistry::kMaxParts) throw badRequest("Numéro de partie invalide.");
    if (req.is_multipart_form_data()) throw badRequest("Une partie se téléverse brute, pas en formulaire.");
    const auto slot = context.uploads.startPart(uploadId, number);
    // Whatever happens below, the registry learns that the part stopped
    // arriving; only a complete part is recorded.
    std::string etag;
    std::int64_t received = 0;
    const auto finish = [&] { context.uploads.finishPart(uploadId, number, etag, received); };
    try {
        PartWriter part(slot.objectFile, slot.offset);
        bool writeFailed = false;
        bodyRead = true;
        const bool complete = reader([&](const char* data, std::size_t size) {
            received += static_cast<std::int64_t>(size);
            if (received <= slot.limit && !writeFailed && !part.write(data, size)) writeFailed = true;
            return true;
        });
        if (!complete) throw badRequest("Corps incomplet.");
        if (received > slot.limit) {
            throw ServiceError(413, "part_too_large", "Partie plus grande que la taille de partie de l'envoi.");
        }
        if (writeFailed) throw std::runtime_error("cannot write upload part");
        etag = part.finish();
    } catch (...) {
        etag.clear();
        try {
            finish();
        } catch (const ServiceError&) {
        }
        throw;
    }
    finish();
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
