#include "devserver/form_reader.hpp"

#include "devserver/drive_http.hpp"
#include "devserver/service_error.hpp"

namespace cadrio::devserver {
namespace {

constexpr std::size_t kMaxFieldBytes = 64 * 1024;
constexpr std::size_t kMaxFields = 32;

}  // namespace

std::optional<std::string> ReceivedForm::field(const std::string& name) const {
    const auto it = fields.find(name);
    return it == fields.end() ? std::nullopt : std::optional<std::string>(it->second);
}

ReceivedForm readUploadForm(const httplib::Request& req, const httplib::ContentReader& reader,
                            const BlobStore& blobs, std::int64_t fileLimit) {
    ReceivedForm form;
    if (!req.is_multipart_form_data()) {
        discardBody(req, reader);
        throw badRequest("Formulaire multipart/form-data attendu.");
    }
    std::optional<std::string> problem;
    bool writeFailed = false;
    enum class Target { file, field, ignored } target = Target::ignored;
    std::string* fieldValue = nullptr;
    int fileParts = 0;

    const bool complete = reader(
        [&](const httplib::MultipartFormData& part) {
            if (part.name == "file") {
                if (++fileParts > 1) {
                    problem = "Un seul fichier par envoi.";
                    target = Target::ignored;
                    return true;
                }
                form.file.emplace(blobs.stage());
                form.fileName = part.filename;
                form.fileContentType = part.content_type;
                target = Target::file;
            } else if (form.fields.size() >= kMaxFields || form.fields.count(part.name) > 0) {
                problem = "Champs de formulaire trop nombreux ou répétés.";
                target = Target::ignored;
            } else {
                fieldValue = &form.fields[part.name];
                target = Target::field;
            }
            return true;
        },
        [&](const char* data, std::size_t size) {
            if (target == Target::file) {
                const auto kept = form.fileBytes < fileLimit ? std::min<std::int64_t>(size, fileLimit - form.fileBytes) : 0;
                if (kept > 0 && !form.file->write(data, static_cast<std::size_t>(kept))) writeFailed = true;
                form.fileBytes += static_cast<std::int64_t>(size);
            } else if (target == Target::field) {
                if (fieldValue->size() + size > kMaxFieldBytes) {
                    problem = "Champ de formulaire trop long.";
                    target = Target::ignored;
                } else {
                    fieldValue->append(data, size);
                }
            }
            return true;
        });

    if (!complete) throw badRequest("Corps de formulaire incomplet ou mal formé.");
    if (problem) throw badRequest(*problem);
    if (!form.file) throw badRequest("Partie \"file\" manquante.");
    if (form.fileBytes > fileLimit) {
        throw ServiceError(413, "payload_too_large",
                           "Fichier trop volumineux pour un envoi direct (" + std::to_string(fileLimit) +
                               " octets au plus).");
    }
    if (writeFailed) throw std::runtime_error("cannot store the received file");
    form.fileHash = form.file->finish();
    return form;
}

}  // namespace cadrio::devserver
