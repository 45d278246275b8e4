#include "core/api/query_encoding.hpp"

namespace cadrio {
namespace {

bool isKept(unsigned char byte) {
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9')) {
        return true;
    }
    static constexpr std::string_view kPunctuation = "!$'()*,-./:;@_~";
    return kPunctuation.find(static_cast<char>(byte)) != std::string_view::npos;
}

}  // namespace

std::string percentEncodedQueryValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isKept(byte)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0x0f]);
        }
    }
    return encoded;
}

}  // namespace cadrio
