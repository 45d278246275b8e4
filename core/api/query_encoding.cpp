#include "core/api/query_encoding.hpp"

#include "core/support/hexadecimal.hpp"

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
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isKept(byte)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            const unsigned char escaped[] = {byte};
            appendHexadecimal(encoded, escaped, HexDigits::upper);
        }
    }
    return encoded;
}

}  // namespace cadrio
