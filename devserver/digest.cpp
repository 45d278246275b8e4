#include "devserver/digest.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace cadrio::devserver {
namespace {

std::string toHex(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

}  // namespace

struct Digest::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

Digest::Digest(Kind kind) : context_(std::make_unique<Context>()) {
    context_->md = EVP_MD_CTX_new();
    const EVP_MD* type = kind == Kind::sha256 ? EVP_sha256() : EVP_md5();
    if (context_->md == nullptr || EVP_DigestInit_ex(context_->md, type, nullptr) != 1) {
        throw std::runtime_error("digest initialisation failed");
    }
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(context_->md, data, size) != 1) {
        throw std::runtime_error("digest update failed");
    }
}

std::string Digest::finishHex() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->md, out, &length) != 1) {
        throw std::runtime_error("digest finalisation failed");
    }
    return toHex(out, length);
}

std::string sha256Hex(std::string_view data) {
    Digest digest(Digest::Kind::sha256);
    digest.update(data.data(), data.size());
    return digest.finishHex();
}

std::string hmacSha256Hex(std::string_view key, std::string_view message) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const auto* result = HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                              reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                              out, &length);
    if (result == nullptr) throw std::runtime_error("HMAC failed");
    return toHex(out, length);
}

std::string randomHex(std::size_t bytes) {
    std::vector<unsigned char> buffer(bytes);
    if (bytes > 0 && RAND_bytes(buffer.data(), static_cast<int>(bytes)) != 1) {
        throw std::runtime_error("random generator failed");
    }
    return toHex(buffer.data(), buffer.size());
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace cadrio::devserver
