#include "core/support/uuid.hpp"

#include <openssl/rand.h>

#include <array>
#include <span>
#include <stdexcept>

#include "core/support/hexadecimal.hpp"

namespace cadrio {

std::string randomUUID() {
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        throw std::runtime_error("générateur aléatoire indisponible");
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    // 8-4-4-4-12 digits: groups of 4, 2, 2, 2 and 6 bytes.
    const std::span<const unsigned char> uuid(bytes);
    constexpr std::array<std::size_t, 5> kGroupLengths = {4, 2, 2, 2, 6};
    std::string text;
    text.reserve(36);
    std::size_t at = 0;
    for (const std::size_t length : kGroupLengths) {
        if (at > 0) text += '-';
        appendHexadecimal(text, uuid.subspan(at, length), HexDigits::upper);
        at += length;
    }
    return text;
}

}  // namespace cadrio
