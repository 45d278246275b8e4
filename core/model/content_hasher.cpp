#include "core/model/content_hasher.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace cadrio::ContentHasher {
namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

/// Closes on scope exit; an error on closing a file that was only read
/// changes nothing about the bytes already hashed, so it is ignored.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) fail("cannot open the file to hash", path);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() { ::close(fd_); }

    /// Bytes read into `buffer`, 0 at the end of the file.
    std::size_t read(std::vector<unsigned char>& buffer, const std::filesystem::path& path) const {
        for (;;) {
            const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
            if (count >= 0) return static_cast<std::size_t>(count);
            if (errno != EINTR) fail("cannot read the file to hash", path);
        }
    }

private:
    [[noreturn]] static void fail(const char* what, const std::filesystem::path& path) {
        const std::error_code error(errno, std::generic_category());
        throw std::filesystem::filesystem_error(what, path, error);
    }

    int fd_;
};

void check(int result) {
    if (result != 1) throw std::runtime_error("SHA-256 computation failed");
}

std::string hexadecimal(const unsigned char* bytes, unsigned int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0f]);
    }
    return text;
}

}  // namespace

std::string sha256(const std::filesystem::path& url) {
    const ReadOnlyFile file(url);
    DigestContext context(EVP_MD_CTX_new());
    if (!context) throw std::runtime_error("SHA-256 computation failed");
    check(EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr));

    std::vector<unsigned char> block(kBlockSize);
    while (const std::size_t count = file.read(block, url)) {
        check(EVP_DigestUpdate(context.get(), block.data(), count));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context.get(), digest, &length));
    return hexadecimal(digest, length);
}

}  // namespace cadrio::ContentHasher
