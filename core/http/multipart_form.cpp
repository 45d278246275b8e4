#include "core/http/multipart_form.hpp"

#include "core/support/uuid.hpp"

namespace cadrio {
namespace {

constexpr std::string_view kCRLF = "\r\n";

void appendParameterValue(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '"': out += "%22"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            default: out += c;
        }
    }
}

}  // namespace

void MultipartForm::appendDisposition(std::string_view name, const std::string_view* filename) {
    body_ += "--";
    body_ += boundary_;
    body_ += kCRLF;
    body_ += "Content-Disposition: form-data; name=\"";
    appendParameterValue(body_, name);
    body_ += '"';
    if (filename != nullptr) {
        body_ += "; filename=\"";
        appendParameterValue(body_, *filename);
        body_ += '"';
    }
    body_ += kCRLF;
}

void MultipartForm::addField(std::string_view name, std::string_view value) {
    appendDisposition(name, nullptr);
    body_ += kCRLF;
    body_ += value;
    body_ += kCRLF;
}

void MultipartForm::addFile(std::string_view name, std::string_view filename,
                            std::string_view contentType, std::string_view data) {
    appendDisposition(name, &filename);
    body_ += "Content-Type: ";
    body_ += contentType;
    body_ += kCRLF;
    body_ += kCRLF;
    body_.reserve(body_.size() + data.size() + 256);
    body_ += data;
    body_ += kCRLF;
}

void MultipartForm::finalize() {
    body_ += "--";
    body_ += boundary_;
    body_ += "--";
    body_ += kCRLF;
}

std::string MultipartForm::makeBoundary() { return "zelvano-" + randomUUID(); }

}  // namespace cadrio
