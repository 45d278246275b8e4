#pragma once
// Digests of the storage side: SHA-256 of contents (the drive's content
// hash), MD5 of upload parts (their ETag, as object stores do), HMAC-SHA256
// of presigned URLs, and random identifiers.
//
// A Digest is owned by one thread at a time; nothing here is shared.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace cadrio::devserver {

class Digest {
public:
    enum class Kind { sha256, md5 };

    explicit Digest(Kind kind);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void update(const void* data, std::size_t size);
    /// Lower-case hexadecimal digest; the object cannot be updated afterwards.
    std::string finishHex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

std::string sha256Hex(std::string_view data);

/// HMAC-SHA256 of `message` under `key`, lower-case hexadecimal.
std::string hmacSha256Hex(std::string_view key, std::string_view message);

/// `bytes` random bytes from OpenSSL's generator, lower-case hexadecimal.
/// Throws std::runtime_error when the generator fails.
std::string randomHex(std::size_t bytes);

/// Comparison whose duration does not depend on where the texts differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace cadrio::devserver
