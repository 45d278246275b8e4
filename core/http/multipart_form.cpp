#include "core/http/multipart_form.hpp"

#include <openssl/rand.h>

#include <array>
#include <span>
#include <stdexcept>

#include "core/support/hexadecimal.hpp"

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

std::string MultipartForm::makeBoundary() {
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        throw std::runtime_error("générateur aléatoire indisponible");
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text = "zelvano-";
    const std::span<const unsigned char> uuid(bytes);
    constexpr std::array<std::size_t, 5> kGroupLengths = {4, 2, 2, 2, 6};
    std::size_t at = 0;
    for (const std::size_t length : kGroupLengths) {
        if (at > 0) text += '-';
        appendHexadecimal(text, uuid.subspan(at, length), HexDigits::upper);
        at += length;
    }
    return text;
}

}  // namespace cadrio
