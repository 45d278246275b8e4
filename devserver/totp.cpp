#include "devserver/totp.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <stdexcept>

namespace cadrio::devserver::totp {

namespace {

int base32Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '2' && c <= '7') return c - '2' + 26;
    return -1;
}

std::uint32_t powerOfTen(int digits) {
    std::uint32_t p = 1;
    for (int i = 0; i < digits; ++i) p *= 10;
    return p;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase32(std::string_view text) {
    while (!text.empty() && (text.back() == '=' || text.back() == ' ')) text.remove_suffix(1);
    std::vector<std::uint8_t> out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == ' ' || c == '-') continue;
        const int v = base32Value(c);
        if (v < 0) return std::nullopt;
        buffer = (buffer << 5) | static_cast<std::uint32_t>(v);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    // Leftover bits are the padding of the last group: a valid encoder never
    // leaves five or more, and always leaves them zero.
    if (bits >= 5 || (buffer & ((1U << bits) - 1)) != 0) return std::nullopt;
    return out;
}

std::string hotp(const std::vector<std::uint8_t>& key, std::uint64_t counter, int digits) {
    if (digits < 1 || digits > 9) throw std::invalid_argument("hotp: digits must be 1 to 9");
    std::array<unsigned char, 8> message{};
    for (int i = 7; i >= 0; --i) {
        message[static_cast<std::size_t>(i)] = static_cast<unsigned char>(counter & 0xFF);
        counter >>= 8;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int macLength = 0;
    if (HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), message.data(), message.size(),
             mac.data(), &macLength) == nullptr ||
        macLength != 20) {
        throw std::runtime_error("hotp: HMAC-SHA1 failed");
    }
    // Dynamic truncation (RFC 4226, 5.3).
    const unsigned offset = mac[19] & 0x0F;
    const std::uint32_t binary = (static_cast<std::uint32_t>(mac[offset] & 0x7F) << 24) |
                                 (static_cast<std::uint32_t>(mac[offset + 1]) << 16) |
                                 (static_cast<std::uint32_t>(mac[offset + 2]) << 8) |
                                 static_cast<std::uint32_t>(mac[offset + 3]);
    std::string code = std::to_string(binary % powerOfTen(digits));
    return std::string(static_cast<std::size_t>(digits) - code.size(), '0') + code;
}

std::string codeAt(const std::vector<std::uint8_t>& key, std::int64_t unixSeconds, int digits,
                   int stepSeconds) {
    const std::int64_t step = unixSeconds < 0 ? 0 : unixSeconds / stepSeconds;
    return hotp(key, static_cast<std::uint64_t>(step), digits);
}

bool verify(const std::vector<std::uint8_t>& key, std::string_view code, std::int64_t unixSeconds,
            int window, int digits, int stepSeconds) {
    if (code.size() != static_cast<std::size_t>(digits)) return false;
    const std::int64_t step = unixSeconds < 0 ? 0 : unixSeconds / stepSeconds;
    bool matched = false;
    for (std::int64_t s = step - window; s <= step + window; ++s) {
        if (s < 0) continue;
        const std::string expected = hotp(key, static_cast<std::uint64_t>(s), digits);
        // Every candidate is compared, so the time taken says nothing about
        // which step (if any) matched.
        matched |= CRYPTO_memcmp(expected.data(), code.data(), code.size()) == 0;
    }
    return matched;
}

}  // namespace cadrio::devserver::totp
